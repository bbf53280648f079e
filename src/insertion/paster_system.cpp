#include "base/paths.h"
#include "insertion/atspi_focus_source.h"
#include "insertion/data_control_pasteboard.h"
#include "insertion/insertion_seams.h"
#include "insertion/kde_fake_input_keystroke.h"
#include "insertion/paster.h"
#include "insertion/portal_paste_keystroke.h"
#include "insertion/sway_frontmost_app.h"
#include "insertion/uinput_paste_keystroke.h"
#include "insertion/virtual_keyboard_keystroke.h"
#include "session/session_probe.h"

#include <cstdlib>

namespace talvoro {

namespace {

// The way the session decision names for each duty.
std::shared_ptr<PasteKeystroke> makeKeystroke(const SystemSession& session) {
    switch (session.decision.keystroke.path) {
    case KeystrokePath::xtest:
        return makeSystemPasteKeystroke();
    case KeystrokePath::virtualKeyboard:
        return makeVirtualKeyboardKeystroke();
    case KeystrokePath::kdeFakeInput:
        return makeKdeFakeInputKeystroke();
    case KeystrokePath::remoteDesktopPortal:
        return makePortalPasteKeystroke(Paths::state("remote-desktop-token"));
    case KeystrokePath::uinput:
        return makeUinputPasteKeystroke();
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
        seams.pasteboard = makeWaylandDataControlPasteboard();
        // Terminals paste the primary selection with Shift+Insert; not every compositor offers it.
        try {
            seams.primary = makeWaylandDataControlPasteboard(WaylandSelection::primary);
        } catch (const PasteboardUnavailable&) {
        }
        return;
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
        } catch (const KeystrokeUnavailable&) {
        }
        // sway knows which of its windows, native or not, has the focus; EWMH sees X11 ones only.
        if (session.facts.kind == SessionKind::wayland && std::getenv("SWAYSOCK"))
            made.frontmost = makeSwayFrontmostAppSource();
        else
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
    InsertionSeams& seams = systemInsertionSeams();
    // In a Wayland session a text that no keystroke can paste still waits on the clipboard.
    if (systemSession().decision.wayland)
        return seams.pasteboard != nullptr;
    return permissionGranted(seams);
}

std::optional<Failure> missingPermission() {
    InsertionSeams& seams = systemInsertionSeams();
    const SessionDecision& decision = systemSession().decision;
    if (!decision.wayland) // XTEST and DISPLAY are the words there
        return missingPermission(seams);
    if (!seams.pasteboard)
        return Failure(Failure::Code::noDisplay,
                       decision.blocker().value_or("буфер обмена этого сеанса недоступен"));
    if (seams.keystroke && !seams.keystroke->available())
        return Failure::refused("рабочий стол не дал нажать Ctrl+V");
    return missingPermission(seams);
}

std::optional<std::string> currentText() {
    return currentText(systemInsertionSeams());
}

} // namespace Paster

} // namespace talvoro
