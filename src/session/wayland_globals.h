#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace talvoro {

// The compositor's globals (interface → highest version) after one registry round trip on a
// connection of its own to WAYLAND_DISPLAY; nothing when it cannot connect or the compositor
// does not answer within wayland::answerWithin.
std::optional<std::map<std::string, std::uint32_t>> readWaylandGlobals();

} // namespace talvoro
