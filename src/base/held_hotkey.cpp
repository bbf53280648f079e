#include "base/held_hotkey.h"

namespace talvoro {

HeldHotkey& HeldHotkey::shared() {
    static HeldHotkey held;
    return held;
}

void HeldHotkey::pressed() {
    std::lock_guard guard(lock);
    down = true;
}

void HeldHotkey::released() {
    std::lock_guard guard(lock);
    down = false;
    changed.notify_all();
}

void HeldHotkey::waitForRelease(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock);
    ++waiters;
    changed.wait_for(guard, limit, [this] { return !down; });
    down = false;
    --waiters;
}

bool HeldHotkey::held() {
    std::lock_guard guard(lock);
    return down;
}

int HeldHotkey::waiting() {
    std::lock_guard guard(lock);
    return waiters;
}

} // namespace talvoro
