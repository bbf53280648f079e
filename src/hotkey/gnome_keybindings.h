#pragma once

#include <string>

#include "base/hotkey_binding.h"

namespace talvoro::gnomeKeybindings {

// Whether one of GNOME's own bindings in `listing` (lines of `gsettings list-recursively`:
// schema, key, a list of GTK accelerators such as ['<Alt>space', '<Super>Up']) is `binding`.
bool holds(const std::string& listing, const HotkeyBinding& binding);

// The running desktop's own bindings: the window manager's, the shell's and the settings
// daemon's keys, as `holds` reads them; empty when gsettings cannot say.
std::string desktopListing();

// `holds` for the running desktop. GNOME grants no second owner a combination it keeps
// (Alt+Space opens the window menu): a shortcut bound there never fires.
bool heldByDesktop(const HotkeyBinding& binding);

} // namespace talvoro::gnomeKeybindings
