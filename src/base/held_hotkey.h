#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace talvoro {

// Whether the dictation hotkey is down, as far as the way it reaches us tells: the
// GlobalShortcuts portal reports the press (Activated) and the release (Deactivated). A paste
// keystroke that cannot read the keyboard (the RemoteDesktop portal, KWin's fake input, uinput)
// waits on it, so that the hotkey's Alt or Super still held does not turn Ctrl+V into Ctrl+Alt+V.
// Sending key-ups for the modifiers instead would not lift them: the compositor drops a release
// of a key that our own device never pressed (KWin's fake input keeps each client's pressed keys,
// mutter counts presses per seat) and so does the kernel for a uinput device.
//
// The desktop reports the release with the key's, and people let go of Alt a moment after the
// key: a text ready at once would still be pasted as Ctrl+Alt+V. So a paste waits `settle` after
// a release.
class HeldHotkey {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds settle{150};

    explicit HeldHotkey(std::function<Clock::time_point()> now = Clock::now,
                        std::function<void(Clock::duration)> sleep = nullptr);
    static HeldHotkey& shared();

    void pressed();
    void released();
    // Returns once the hotkey is up (and settled), or after `limit`; a release that did not come
    // by then is forgotten, so a desktop that reports none costs one wait, not one per paste.
    void waitForRelease(std::chrono::milliseconds limit);
    bool held();
    // Threads inside waitForRelease now.
    int waiting();

private:
    const std::function<Clock::time_point()> now;
    const std::function<void(Clock::duration)> sleep;
    std::mutex lock;
    std::condition_variable changed;
    bool down = false;                           // guarded by lock
    int waiters = 0;                             // guarded by lock
    std::optional<Clock::time_point> releasedAt; // guarded by lock
};

} // namespace talvoro
