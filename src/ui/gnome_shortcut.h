#pragma once

#include <stdexcept>
#include <string>

#include "base/hotkey_binding.h"

namespace talvoro {

// GNOME's own custom keybinding (settings daemon, media-keys plugin) that runs our command:
// on GNOME before the GlobalShortcuts portal this is how the hotkey reaches us. Written and
// read with the gsettings program, so it is the user's setting like any other.
class GnomeShortcut {
public:
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    static constexpr const char* schema = "org.gnome.settings-daemon.plugins.media-keys";
    static constexpr const char* path =
        "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/talvoro/";

    bool bound() const;
    // Adds ours to the list of custom keybindings (once). Throws Error.
    void bind(const HotkeyBinding& binding, const std::string& command) const;
    // Takes ours out of the list and forgets its keys. Throws Error.
    void unbind() const;

    // GTK's accelerator text: "<Alt>space", "<Control><Shift>F9".
    static std::string accelerator(const HotkeyBinding& binding);
};

} // namespace talvoro
