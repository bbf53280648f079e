#pragma once

#include <atomic>

#include "base/serial_queue.h"

namespace talvoro {

// A time source for tests that stands still until the test moves it. A queue waiting on it
// wakes only for new tasks and timers: after advance(), hand the queue a task (sync) and every
// timer due by then has run before that task.
class ManualTimeSource : public SerialQueue::TimeSource {
public:
    SerialQueue::Clock::time_point now() const override { return current.load(); }
    void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   SerialQueue::Clock::time_point due) const override;

    void advance(std::chrono::nanoseconds by);

private:
    std::atomic<SerialQueue::Clock::time_point> current{SerialQueue::Clock::time_point{}};
};

} // namespace talvoro
