#include "session/wayland_globals.h"

#include <memory>
#include <wayland-client.h>

namespace talvoro {

namespace {

using Globals = std::map<std::string, std::uint32_t>;

void announced(void* data, wl_registry*, std::uint32_t, const char* interface,
               std::uint32_t version) {
    auto& globals = *static_cast<Globals*>(data);
    std::uint32_t& known = globals[interface];
    known = std::max(known, version);
}

void removed(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener listener = {announced, removed};

} // namespace

std::optional<Globals> readWaylandGlobals() {
    std::unique_ptr<wl_display, decltype(&wl_display_disconnect)> display(
        wl_display_connect(nullptr), wl_display_disconnect);
    if (!display)
        return std::nullopt;
    std::unique_ptr<wl_registry, decltype(&wl_registry_destroy)> registry(
        wl_display_get_registry(display.get()), wl_registry_destroy);
    if (!registry)
        return std::nullopt;
    Globals globals;
    wl_registry_add_listener(registry.get(), &listener, &globals);
    if (wl_display_roundtrip(display.get()) < 0)
        return std::nullopt;
    return globals;
}

} // namespace talvoro
