#pragma once

#include <memory>

#include "hotkey/key_event_source.h"

namespace talvoro {

// The keyboard hook of the way this session delivers the hotkey: the X11 grab, the
// GlobalShortcuts portal, or none of our own when the desktop binds the commands
// `talvoro start/stop/toggle/cancel` itself (then the source holds nothing and only waits).
std::unique_ptr<KeyEventSource> makeSessionKeySource();

// Whether this session's way can deliver keys to us at all.
bool sessionKeysReachable();

} // namespace talvoro
