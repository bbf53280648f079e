#pragma once

#include <memory>
#include <vector>

#include "dictation/dictation_clock.h"

namespace talvoro::testing {

// A clock that moves only when the test says so; its timers fire inside advance(), on the
// calling thread, in the order they fall due. For the main thread alone.
class ManualClock : public DictationClock {
public:
    explicit ManualClock(QDateTime start);

    QDateTime now() override;
    double uptime() override { return elapsed; }
    std::unique_ptr<Timer> after(double seconds, std::function<void()> fire) override;
    std::unique_ptr<Timer> every(double seconds, std::function<void()> fire) override;

    void advance(double seconds);
    // Seconds until each live timer fires, soonest first.
    std::vector<double> pending() const;

private:
    struct Entry {
        double due = 0;
        double interval = 0;
        bool repeats = false;
        bool live = true;
        std::function<void()> fire;
    };
    class Handle;
    std::unique_ptr<Timer> schedule(double seconds, bool repeats, std::function<void()> fire);

    QDateTime start;
    double elapsed = 0;
    std::vector<std::shared_ptr<Entry>> entries;
};

} // namespace talvoro::testing
