#include "insertion/data_control_protocol.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace talvoro::wayland {

namespace {

// The opcodes below are ext's; the wlr protocol must agree with every one of them.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION ==
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION ==
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);
static_assert(sizeof(DeviceListener) == sizeof(ext_data_control_device_v1_listener));
static_assert(sizeof(DeviceListener) == sizeof(zwlr_data_control_device_v1_listener));
static_assert(sizeof(SourceListener) == sizeof(ext_data_control_source_v1_listener));
static_assert(sizeof(OfferListener) == sizeof(ext_data_control_offer_v1_listener));

std::uint32_t opcode(int value) {
    return static_cast<std::uint32_t>(value);
}

} // namespace

const DataControlProtocol& extDataControl() {
    static const DataControlProtocol protocol{
        "ext_data_control_manager_v1",         &ext_data_control_manager_v1_interface,
        &ext_data_control_device_v1_interface, &ext_data_control_source_v1_interface,
        &ext_data_control_offer_v1_interface,  1};
    return protocol;
}

const DataControlProtocol& wlrDataControl() {
    static const DataControlProtocol protocol{
        "zwlr_data_control_manager_v1",         &zwlr_data_control_manager_v1_interface,
        &zwlr_data_control_device_v1_interface, &zwlr_data_control_source_v1_interface,
        &zwlr_data_control_offer_v1_interface,  2};
    return protocol;
}

Proxy bindManager(Registry& registry, const DataControlProtocol& protocol) {
    return registry.bind(*protocol.manager, protocol.version, EXT_DATA_CONTROL_MANAGER_V1_DESTROY);
}

Proxy getDataDevice(wl_proxy* manager, wl_proxy* seat, const DataControlProtocol& protocol) {
    wl_proxy* device =
        wl_proxy_marshal_flags(manager, opcode(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE),
                               protocol.device, wl_proxy_get_version(manager), 0, nullptr, seat);
    return Proxy(device, ProxyDeleter{EXT_DATA_CONTROL_DEVICE_V1_DESTROY});
}

Proxy createDataSource(wl_proxy* manager, const DataControlProtocol& protocol) {
    wl_proxy* source =
        wl_proxy_marshal_flags(manager, opcode(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE),
                               protocol.source, wl_proxy_get_version(manager), 0, nullptr);
    return Proxy(source, ProxyDeleter{EXT_DATA_CONTROL_SOURCE_V1_DESTROY});
}

Proxy adoptOffer(wl_proxy* offer) {
    return Proxy(offer, ProxyDeleter{EXT_DATA_CONTROL_OFFER_V1_DESTROY});
}

void offerType(wl_proxy* source, const std::string& mimeType) {
    wl_proxy_marshal_flags(source, opcode(EXT_DATA_CONTROL_SOURCE_V1_OFFER), nullptr,
                           wl_proxy_get_version(source), 0, mimeType.c_str());
}

void setSelection(wl_proxy* device, wl_proxy* source, bool primary) {
    wl_proxy_marshal_flags(device,
                           opcode(primary ? EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION
                                          : EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION),
                           nullptr, wl_proxy_get_version(device), 0, source);
}

void receive(wl_proxy* offer, const std::string& mimeType, int fd) {
    wl_proxy_marshal_flags(offer, opcode(EXT_DATA_CONTROL_OFFER_V1_RECEIVE), nullptr,
                           wl_proxy_get_version(offer), 0, mimeType.c_str(), fd);
}

} // namespace talvoro::wayland
