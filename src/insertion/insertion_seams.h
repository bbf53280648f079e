#pragma once

#include "insertion/focus_source.h"
#include "insertion/frontmost_app.h"
#include "insertion/paste_clock.h"
#include "insertion/paste_keystroke.h"
#include "insertion/pasteboard.h"

#include <memory>

namespace talvoro {

// The platform pieces an insertion works with. `pasteboard`, `primary` and `keystroke` are empty
// when there is no X display; `frontmost` and `focus` are always there. `primary` (X11: the
// PRIMARY selection, which terminals paste with Shift+Insert) may be empty in tests; `clock`
// empty means the system clock.
struct InsertionSeams {
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<PasteKeystroke> keystroke;
    std::shared_ptr<FrontmostAppSource> frontmost;
    std::shared_ptr<FocusSource> focus;
    std::shared_ptr<Pasteboard> primary;
    std::shared_ptr<PasteClock> clock;
};

// The real ones, as the session decision names them (X11: CLIPBOARD and PRIMARY, the XTest
// keystroke), with EWMH and AT-SPI. Made on
// first use and kept for the life of the process, because the pasteboards own the selections
// that hold the restored contents: letting them go would take them away from everybody.
InsertionSeams& systemInsertionSeams();

} // namespace talvoro
