#pragma once

#include <memory>

#include "insertion/paste_keystroke.h"

namespace talvoro {

// The paste shortcut through KWin's fake-input protocol, by key code. KWin offers the protocol
// only to programs whose desktop entry names it (X-KDE-Wayland-Interfaces in
// org.talvoro.Talvoro.desktop). Throws Paster::Failure(noPermission) when the compositor does not
// offer it (or there is no Wayland display), saying which.
std::unique_ptr<PasteKeystroke> makeKdeFakeInputKeystroke();

} // namespace talvoro
