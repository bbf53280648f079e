#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace talvoro {

enum class SessionKind { x11, wayland, none };

// What the desktop session offers, as found at start. Maps hold an interface's highest
// version; an interface that is not offered is not in them.
struct SessionFacts {
    SessionKind kind = SessionKind::none;
    std::string desktop; // XDG_CURRENT_DESKTOP as given ("GNOME", "KDE", "ubuntu:GNOME", "sway")
    bool waylandReachable = false;
    std::map<std::string, std::uint32_t> waylandGlobals; // "zwp_virtual_keyboard_manager_v1" → 1
    bool x11Reachable = false; // DISPLAY opens; in a Wayland session that is XWayland
    bool xtest = false;        // that display lets us press keys
    bool portalReachable = false;
    std::map<std::string, std::uint32_t> portal; // "GlobalShortcuts" → 1 (org.freedesktop.portal.*)
    bool atspi = false;
    bool uinputOptIn = false;    // the user allowed a virtual input device
    bool uinputWritable = false; // and /dev/uinput can be opened for writing

    // Whether XDG_CURRENT_DESKTOP names this desktop (it is a colon-separated list).
    bool desktopIs(const std::string& name) const;
};

} // namespace talvoro
