#pragma once

#include <memory>

namespace talvoro {

// The synthesised paste shortcut sent to whatever window has the keyboard focus.
class PasteKeystroke {
public:
    virtual ~PasteKeystroke() = default;
    // Whether keys can be synthesised at all (X11: the server has XTEST). This is what
    // `Paster::permissionGranted` reports; there is no prompt to show.
    virtual bool available() = 0;
    // Presses and releases the shortcut (X11: waits up to 1 s for the user to let go of held
    // modifiers, then Control+V, or Control+Shift+V for terminal emulators). Returns once the
    // events are sent. Throws Paster::Failure (noPermission without XTEST, eventCreationFailed when
    // the events cannot be made or sent).
    virtual void press() = 0;
};

// The XTest keystroke on its own X connection. Throws Paster::Failure(noPermission) when there
// is no X display.
std::unique_ptr<PasteKeystroke> makeSystemPasteKeystroke();

} // namespace talvoro
