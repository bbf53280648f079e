#include "session/wayland_globals.h"

#include <algorithm>

#include "session/wayland_connection.h"

namespace talvoro {

std::optional<std::map<std::string, std::uint32_t>> readWaylandGlobals() {
    wayland::Display display = wayland::connect();
    if (!display)
        return std::nullopt;
    // A frozen compositor must not hold the probe: the round trip gives up after its deadline.
    wayland::RoundTrip roundTrip(display.get());
    const wayland::Registry registry(display.get(), roundTrip);
    if (registry.listed() != wayland::RoundTrip::Outcome::answered)
        return std::nullopt;
    std::map<std::string, std::uint32_t> globals;
    for (const wayland::Registry::Global& global : registry.globals()) {
        std::uint32_t& known = globals[global.interface];
        known = std::max(known, global.version);
    }
    return globals;
}

} // namespace talvoro
