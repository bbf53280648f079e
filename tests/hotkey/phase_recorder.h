#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

#include "hotkey/hotkey_tap.h"

namespace talvoro::testing {

// What a tap's onEvent received, with the name of the thread it ran on.
class PhaseRecorder {
public:
    using Phase = HotkeyTap::Phase;

    HotkeyTap::OnEvent handler() {
        return [this](Phase phase, double) {
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            std::lock_guard guard(lock);
            phases.push_back(phase);
            threadName = name;
            changed.notify_all();
        };
    }
    // The phases once `count` have arrived (or after 2 s).
    std::vector<Phase> await(std::size_t count) {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(2), [&] { return phases.size() >= count; });
        return phases;
    }
    std::vector<Phase> now() {
        std::lock_guard guard(lock);
        return phases;
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<Phase> phases; // guarded by lock
    std::string threadName;    // guarded by lock
};

} // namespace talvoro::testing
