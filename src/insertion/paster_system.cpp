#include "insertion/atspi_focus_source.h"
#include "insertion/insertion_seams.h"
#include "insertion/paster.h"
#include "session/session_probe.h"

namespace talvoro {

namespace {

// Each way the session decision may name; a way this build lacks is never chosen, so its slot
// stays empty until its factory lands here.
std::shared_ptr<PasteKeystroke> makeKeystroke(const SystemSession& session) {
    switch (session.decision.keystroke.path) {
    case KeystrokePath::xtest:
        return makeSystemPasteKeystroke();
    case KeystrokePath::virtualKeyboard:
    case KeystrokePath::kdeFakeInput:
    case KeystrokePath::remoteDesktopPortal:
    case KeystrokePath::uinput:
        break;
    case KeystrokePath::none:
        // An X display without XTEST: its keystroke tells the user so itself.
        if (session.facts.x11Reachable)
            return makeSystemPasteKeystroke();
        break;
    }
    return nullptr;
}

void makeClipboard(ClipboardPath path, InsertionSeams& seams) {
    switch (path) {
    case ClipboardPath::x11Selection:
        seams.pasteboard = makeSystemPasteboard();
        seams.primary = makeSystemPasteboard("PRIMARY");
        return;
    case ClipboardPath::extDataControl:
    case ClipboardPath::wlrDataControl:
    case ClipboardPath::none:
        return;
    }
}

} // namespace

InsertionSeams& systemInsertionSeams() {
    static InsertionSeams seams = [] {
        const SystemSession& session = systemSession();
        InsertionSeams made;
        try {
            makeClipboard(session.decision.clipboard.path, made);
        } catch (const PasteboardUnavailable&) {
            made.pasteboard.reset();
            made.primary.reset();
        }
        try {
            made.keystroke = makeKeystroke(session);
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
