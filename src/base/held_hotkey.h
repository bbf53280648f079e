#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace talvoro {

// Whether the dictation hotkey is down, as far as the way it reaches us tells: the
// GlobalShortcuts portal reports the press (Activated) and the release (Deactivated). A paste
// keystroke that cannot read the keyboard (the RemoteDesktop portal, KWin's fake input, uinput)
// waits on it, so that the hotkey's Alt or Super still held does not turn Ctrl+V into Ctrl+Alt+V.
// Sending key-ups for the modifiers instead would not lift them: the compositor drops a release
// of a key that our own device never pressed (KWin's fake input keeps each client's pressed keys,
// mutter counts presses per seat) and so does the kernel for a uinput device.
class HeldHotkey {
public:
    static HeldHotkey& shared();

    void pressed();
    void released();
    // Returns once the hotkey is up, or after `limit`; a release that did not come by then is
    // forgotten, so a desktop that reports none costs one wait, not one per paste.
    void waitForRelease(std::chrono::milliseconds limit);
    bool held();
    // Threads inside waitForRelease now.
    int waiting();

private:
    std::mutex lock;
    std::condition_variable changed;
    bool down = false; // guarded by lock
    int waiters = 0;   // guarded by lock
};

} // namespace talvoro
