#pragma once

#include "insertion/paste_clock.h"

#include <functional>
#include <map>
#include <mutex>

namespace talvoro::testing {

// A clock that moves only when paused: a pause advances it and runs, on the pausing thread and
// in time order, whatever was scheduled in between, with the clock standing at each one's time.
class ManualPasteClock : public PasteClock {
public:
    explicit ManualPasteClock(double start = 1000) : time(start) {}

    double now() override;
    void pause(double seconds) override;
    // Runs `action` once the clock reaches now + `delay`.
    void after(double delay, std::function<void()> action);

private:
    std::mutex lock;
    double time;                                         // guarded by lock
    std::multimap<double, std::function<void()>> agenda; // guarded by lock
};

} // namespace talvoro::testing
