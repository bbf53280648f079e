#pragma once

#include <memory>

#include "hotkey/key_event_source.h"

namespace talvoro {

// The keyboard of the X display in DISPLAY, watched on a connection of its own: a passive
// grab of the binding's key on the root window (in every combination of the lock modifiers)
// decides per press whether the key is taken or replayed to the focused window.
std::unique_ptr<KeyEventSource> makeX11KeySource();

// Whether the X display can be opened.
bool x11DisplayReachable();

} // namespace talvoro
