#include "dictation/manual_clock.h"

#include <algorithm>
#include <cmath>

namespace talvoro::testing {

class ManualClock::Handle : public DictationClock::Timer {
public:
    explicit Handle(std::shared_ptr<Entry> entry) : entry(std::move(entry)) {}
    ~Handle() override { entry->live = false; }

private:
    std::shared_ptr<Entry> entry;
};

ManualClock::ManualClock(QDateTime start) : start(std::move(start)) {}

QDateTime ManualClock::now() {
    return start.addMSecs(static_cast<qint64>(std::llround(elapsed * 1000)));
}

std::unique_ptr<DictationClock::Timer> ManualClock::after(double seconds,
                                                          std::function<void()> fire) {
    return schedule(seconds, false, std::move(fire));
}

std::unique_ptr<DictationClock::Timer> ManualClock::every(double seconds,
                                                          std::function<void()> fire) {
    return schedule(seconds, true, std::move(fire));
}

std::unique_ptr<DictationClock::Timer> ManualClock::schedule(double seconds, bool repeats,
                                                             std::function<void()> fire) {
    auto entry = std::make_shared<Entry>();
    entry->due = elapsed + seconds;
    entry->interval = seconds;
    entry->repeats = repeats;
    entry->fire = std::move(fire);
    entries.push_back(entry);
    return std::make_unique<Handle>(entry);
}

void ManualClock::advance(double seconds) {
    const double target = elapsed + seconds;
    for (;;) {
        std::erase_if(entries, [](const auto& entry) { return !entry->live; });
        std::shared_ptr<Entry> next;
        for (const auto& entry : entries)
            if (entry->due <= target + 1e-9 && (!next || entry->due < next->due))
                next = entry;
        if (!next)
            break;
        elapsed = std::max(elapsed, next->due);
        if (next->repeats)
            next->due += next->interval;
        else
            next->live = false;
        const std::function<void()> fire = next->fire; // the call may cancel its own timer
        fire();
    }
    elapsed = target;
}

std::vector<double> ManualClock::pending() const {
    std::vector<double> left;
    for (const auto& entry : entries)
        if (entry->live)
            left.push_back(entry->due - elapsed);
    std::sort(left.begin(), left.end());
    return left;
}

} // namespace talvoro::testing
