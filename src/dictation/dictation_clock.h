#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

namespace talvoro {

// Time as the dictation controller reads it: the wall clock for file names, a monotonic
// clock for the hold rule, and timers on the main thread. Tests drive a manual one.
class DictationClock {
public:
    // A scheduled call; destroying the handle cancels it.
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~DictationClock() = default;
    virtual QDateTime now() = 0;
    virtual double uptime() = 0; // seconds, monotonic
    // On the main thread; `fire` runs on the main thread.
    virtual std::unique_ptr<Timer> after(double seconds, std::function<void()> fire) = 0;
    virtual std::unique_ptr<Timer> every(double seconds, std::function<void()> fire) = 0;
};

// The system clocks and Qt timers.
std::shared_ptr<DictationClock> systemDictationClock();

} // namespace talvoro
