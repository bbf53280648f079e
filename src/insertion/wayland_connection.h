#pragma once

#include <wayland-client-core.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_interface;
struct wl_registry;

namespace talvoro::wayland {

struct DisplayDeleter {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
using Display = std::unique_ptr<wl_display, DisplayDeleter>;

// Destroys a proxy, first sending its interface's destructor request when it has one.
struct ProxyDeleter {
    int destructorOpcode = -1;
    void operator()(wl_proxy* proxy) const;
};
using Proxy = std::unique_ptr<wl_proxy, ProxyDeleter>;

template <class T> Proxy adopt(T* proxy, int destructorOpcode = -1) {
    return Proxy(reinterpret_cast<wl_proxy*>(proxy), ProxyDeleter{destructorOpcode});
}

// Nothing when there is no compositor to talk to (no WAYLAND_DISPLAY, or it refuses us).
Display connect();

// The compositor's globals, listed in one round trip; binds them on request.
class Registry {
public:
    explicit Registry(wl_display* display);

    struct Global {
        std::uint32_t name = 0;
        std::string interface;
        std::uint32_t version = 0;
    };
    const std::vector<Global>& globals() const { return globals_; }
    std::optional<Global> find(const std::string& interface) const;
    // Binds the first global of that interface at min(its version, `version`); null when absent.
    Proxy bind(const wl_interface& interface, std::uint32_t version, int destructorOpcode = -1);

private:
    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

    Proxy registry;
    std::vector<Global> globals_;
};

} // namespace talvoro::wayland
