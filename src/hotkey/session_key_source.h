#pragma once

#include <memory>

#include "hotkey/key_event_source.h"

namespace talvoro {

// The keyboard hook of the way this session delivers the hotkey: the X11 grab, the
// GlobalShortcuts portal, or none of our own when the desktop binds the commands
// `talvoro start/stop/toggle/cancel` itself (then the source holds nothing and only waits).
// `desktopWide` false is a key wanted only during a recording (Esc): the portal binds one
// shortcut for the whole desktop, the dictation key, so such a key gets no source there, and
// `talvoro cancel` or a click on the pill stand in for it.
std::unique_ptr<KeyEventSource> makeSessionKeySource(bool desktopWide = true);

// The source of a desktop that runs `talvoro start/stop/toggle/cancel` on its own binding.
std::unique_ptr<KeyEventSource> makeDesktopBindingKeySource();

// Whether this session's way can deliver keys to us at all.
bool sessionKeysReachable();

} // namespace talvoro
