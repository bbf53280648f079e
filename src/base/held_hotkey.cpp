#include "base/held_hotkey.h"

#include <thread>

namespace talvoro {

HeldHotkey::HeldHotkey(std::function<Clock::time_point()> now,
                       std::function<void(Clock::duration)> sleep)
    : now(std::move(now)), sleep(sleep ? std::move(sleep) : [](Clock::duration wait) {
          std::this_thread::sleep_for(wait);
      }) {}

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
    releasedAt = now();
    changed.notify_all();
}

void HeldHotkey::waitForRelease(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock);
    ++waiters;
    changed.wait_for(guard, limit, [this] { return !down; });
    down = false;
    --waiters;
    const std::optional<Clock::time_point> at = releasedAt;
    guard.unlock();
    if (!at)
        return;
    if (const Clock::duration left = *at + settle - now(); left > Clock::duration::zero())
        sleep(left);
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
