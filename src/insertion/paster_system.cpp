#include "insertion/atspi_focus_source.h"
#include "insertion/insertion_seams.h"
#include "insertion/paster.h"

namespace talvoro {

InsertionSeams& systemInsertionSeams() {
    static InsertionSeams seams = [] {
        InsertionSeams made;
        try {
            made.pasteboard = makeSystemPasteboard();
            made.primary = makeSystemPasteboard("PRIMARY");
        } catch (const PasteboardUnavailable&) {
            made.pasteboard.reset();
        }
        try {
            made.keystroke = makeSystemPasteKeystroke();
        } catch (const Paster::Failure&) {
        }
        made.frontmost = makeSystemFrontmostAppSource();
        made.focus = std::make_shared<AtspiFocusSource>();
        return made;
    }();
    return seams;
}

namespace Paster {

Result paste(const std::string& text) {
    return paste(text, systemInsertionSeams());
}

Focus currentFocus() {
    return currentFocus(systemInsertionSeams());
}

void wakeFocusReporting() {
    wakeFocusReporting(systemInsertionSeams());
}

bool permissionGranted(bool) {
    return permissionGranted(systemInsertionSeams());
}

std::optional<Failure> missingPermission() {
    return missingPermission(systemInsertionSeams());
}

std::optional<std::string> currentText() {
    return currentText(systemInsertionSeams());
}

} // namespace Paster

} // namespace talvoro
