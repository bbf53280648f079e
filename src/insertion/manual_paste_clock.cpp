#include "insertion/manual_paste_clock.h"

namespace talvoro::testing {

double ManualPasteClock::now() {
    std::lock_guard guard(lock);
    return time;
}

void ManualPasteClock::pause(double seconds) {
    std::unique_lock guard(lock);
    const double until = time + seconds;
    while (!agenda.empty() && agenda.begin()->first <= until) {
        auto next = agenda.extract(agenda.begin());
        time = next.key();
        guard.unlock();
        next.mapped()();
        guard.lock();
    }
    time = until;
}

void ManualPasteClock::after(double delay, std::function<void()> action) {
    std::lock_guard guard(lock);
    agenda.emplace(time + delay, std::move(action));
}

} // namespace talvoro::testing
