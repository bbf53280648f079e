#include "insertion/wayland_connection.h"

#include <wayland-client-protocol.h>

#include <algorithm>

namespace talvoro::wayland {

void ProxyDeleter::operator()(wl_proxy* proxy) const {
    if (destructorOpcode < 0) {
        wl_proxy_destroy(proxy);
        return;
    }
    wl_proxy_marshal_flags(proxy, static_cast<std::uint32_t>(destructorOpcode), nullptr,
                           wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

Display connect() {
    return Display(wl_display_connect(nullptr));
}

Registry::Registry(wl_display* display) : registry(adopt(wl_display_get_registry(display))) {
    static const wl_registry_listener listener{&Registry::onGlobal, &Registry::onGlobalRemove};
    wl_registry_add_listener(reinterpret_cast<wl_registry*>(registry.get()), &listener, this);
    wl_display_roundtrip(display);
}

void Registry::onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                        std::uint32_t version) {
    static_cast<Registry*>(data)->globals_.push_back({name, interface, version});
}

std::optional<Registry::Global> Registry::find(const std::string& interface) const {
    auto found = std::find_if(globals_.begin(), globals_.end(),
                              [&](const Global& global) { return global.interface == interface; });
    return found == globals_.end() ? std::nullopt : std::optional(*found);
}

Proxy Registry::bind(const wl_interface& interface, std::uint32_t version, int destructorOpcode) {
    std::optional<Global> global = find(interface.name);
    if (!global)
        return Proxy(nullptr, ProxyDeleter{destructorOpcode});
    void* bound = wl_registry_bind(reinterpret_cast<wl_registry*>(registry.get()), global->name,
                                   &interface, std::min(version, global->version));
    return Proxy(static_cast<wl_proxy*>(bound), ProxyDeleter{destructorOpcode});
}

} // namespace talvoro::wayland
