#include "base/manual_time_source.h"

namespace talvoro {

void ManualTimeSource::waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                                 SerialQueue::Clock::time_point due) const {
    if (now() < due)
        wake.wait(lock);
}

void ManualTimeSource::advance(std::chrono::nanoseconds by) {
    current.store(current.load() + by);
}

} // namespace talvoro
