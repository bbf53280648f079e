#pragma once

#include "session/wayland_connection.h"

#include <cstdint>
#include <string>

namespace talvoro::wayland {

// ext-data-control-v1 and wlr-data-control-unstable-v1 have the same requests and events in the
// same order; they differ only in their interfaces' names. One client serves both through this
// description of the one it bound.
struct DataControlProtocol {
    const char* name; // the manager's interface name, for reports
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
    std::uint32_t version; // the highest manager version we speak
};

const DataControlProtocol& extDataControl();
const DataControlProtocol& wlrDataControl();

// Event handlers, laid out as the generated listeners of both protocols are.
struct DeviceListener {
    void (*dataOffer)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*selection)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*finished)(void* data, wl_proxy* device);
    void (*primarySelection)(void* data, wl_proxy* device, wl_proxy* offer);
};
struct SourceListener {
    void (*send)(void* data, wl_proxy* source, const char* mimeType, std::int32_t fd);
    void (*cancelled)(void* data, wl_proxy* source);
};
struct OfferListener {
    void (*offer)(void* data, wl_proxy* offer, const char* mimeType);
};

// Requests; every proxy made here is destroyed with the protocol's destroy request.
Proxy bindManager(Registry& registry, const DataControlProtocol& protocol);
Proxy getDataDevice(wl_proxy* manager, wl_proxy* seat, const DataControlProtocol& protocol);
Proxy createDataSource(wl_proxy* manager, const DataControlProtocol& protocol);
Proxy adoptOffer(wl_proxy* offer);
void offerType(wl_proxy* source, const std::string& mimeType);
// `source` may be null to clear; `primary` needs manager version 2 on wlr.
void setSelection(wl_proxy* device, wl_proxy* source, bool primary);
void receive(wl_proxy* offer, const std::string& mimeType, int fd);

} // namespace talvoro::wayland
