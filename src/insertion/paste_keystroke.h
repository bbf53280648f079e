#pragma once

#include <memory>

namespace talvoro {

// Ctrl+V for ordinary windows; Shift+Insert for terminal emulators, which paste the primary
// selection with it (xterm, rxvt and st do nothing on Ctrl+Shift+V).
enum class PasteShortcut { controlV, shiftInsert };

// The synthesised paste shortcut sent to whatever window has the keyboard focus.
class PasteKeystroke {
public:
    virtual ~PasteKeystroke() = default;
    // Whether keys can be synthesised at all (X11: the server has XTEST). This is what
    // `Paster::permissionGranted` reports; there is no prompt to show.
    virtual bool available() = 0;
    // Gets ready to press, with any approval the desktop asks the user for (a portal dialog),
    // before the clipboard is touched: the pull wait then never runs while a dialog is open.
    // Throws Paster::Failure(noPermission) when the keys were refused or the question was left
    // unanswered; nothing has been pressed then.
    virtual void prepare() {}
    // Waits, at most about a second, until the user has let go of every key: a hotkey's
    // modifiers still down would turn the shortcut into another one, and while its key is down
    // the hotkey's own grab (X11) takes every key, the shortcut included.
    virtual void waitForKeysReleased() = 0;
    // Presses and releases the shortcut at once, after prepare(). Throws Paster::Failure (noDisplay
    // when the X server is gone, noPermission without XTEST, eventCreationFailed when the events
    // cannot be made or sent).
    virtual void press(PasteShortcut shortcut) = 0;
};

// The XTest keystroke on its own X connection. Throws Paster::Failure(noDisplay) when there is
// no X display.
std::unique_ptr<PasteKeystroke> makeSystemPasteKeystroke();

} // namespace talvoro
