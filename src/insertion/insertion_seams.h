#pragma once

#include "insertion/focus_source.h"
#include "insertion/frontmost_app.h"
#include "insertion/paste_keystroke.h"
#include "insertion/pasteboard.h"

#include <memory>

namespace talvoro {

// The platform pieces an insertion works with. `pasteboard` and `keystroke` are empty when
// there is no X display; `frontmost` and `focus` are always there.
struct InsertionSeams {
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<PasteKeystroke> keystroke;
    std::shared_ptr<FrontmostAppSource> frontmost;
    std::shared_ptr<FocusSource> focus;
};

// The real ones: the X11 CLIPBOARD, the XTest keystroke, EWMH and AT-SPI. Made on first use and
// kept for the life of the process, because the pasteboard owns the selection that holds the
// restored contents: letting it go would take them away from everybody.
InsertionSeams& systemInsertionSeams();

} // namespace talvoro
