#pragma once

#include "insertion/paste_keystroke.h"
#include "insertion/x11_connection.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace talvoro {

// Control+V (Control+Shift+V for terminal emulators) through XTEST, with the keycode that
// carries "v" in the current keyboard mapping, whatever layout group is active.
class XTestPasteKeystroke final : public PasteKeystroke {
public:
    // How long the user gets to let go of held modifiers before we press anyway.
    static constexpr std::chrono::milliseconds modifierGrace{1000};

    // Throws Paster::Failure(noPermission) when there is no X display.
    XTestPasteKeystroke();

    bool available() override;
    void press() override;

    // WM_CLASS parts of a terminal emulator, which pastes with Control+Shift+V.
    static bool isTerminal(const std::string& instance, const std::string& className);

private:
    x11::Connection& connected(); // reconnects after the server went away

    std::mutex lock;
    std::unique_ptr<x11::Connection> connection; // guarded by lock
};

} // namespace talvoro
