#pragma once

#include "insertion/paste_keystroke.h"
#include "insertion/x11_connection.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace talvoro {

// The paste shortcut through XTEST, with the keycodes that carry "v", Control, Shift and Insert
// in the current keyboard mapping, whatever layout group is active.
class XTestPasteKeystroke final : public PasteKeystroke {
public:
    // How long the user gets to let go of held keys before we press anyway.
    static constexpr std::chrono::milliseconds releaseGrace{1000};

    // Throws Paster::Failure(noDisplay) when there is no X display.
    XTestPasteKeystroke();

    bool available() override;
    void waitForKeysReleased() override;
    void press(PasteShortcut shortcut) override;

private:
    x11::Connection& connected(); // reconnects after the server went away

    std::mutex lock;
    std::unique_ptr<x11::Connection> connection; // guarded by lock
};

} // namespace talvoro
