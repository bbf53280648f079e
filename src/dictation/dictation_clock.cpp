#include "dictation/dictation_clock.h"

#include <QTimer>

#include <chrono>
#include <cmath>
#include <memory>

namespace talvoro {

namespace {

// The handle may go while its own timeout runs (the call it makes can end its owner): then the
// QTimer is only stopped, and deleted from the event loop. Otherwise it goes at once, since at
// quit no event loop runs again to delete it.
class QtTimer : public DictationClock::Timer {
public:
    QtTimer(double seconds, bool repeats, std::function<void()> fire)
        : timer(new QTimer), firing(std::make_shared<bool>(false)) {
        timer->setSingleShot(!repeats);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, [fire = std::move(fire), firing = firing] {
            *firing = true;
            fire();
            *firing = false;
        });
        timer->start(static_cast<int>(std::lround(seconds * 1000)));
    }
    ~QtTimer() override {
        timer->stop();
        QObject::disconnect(timer, nullptr, nullptr, nullptr);
        if (*firing)
            timer->deleteLater();
        else
            delete timer;
    }
    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

private:
    QTimer* timer;
    std::shared_ptr<bool> firing; // shared with the timeout's call, which may outlive this
};

class SystemClock : public DictationClock {
public:
    QDateTime now() override { return QDateTime::currentDateTime(); }
    double uptime() override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::unique_ptr<Timer> after(double seconds, std::function<void()> fire) override {
        return std::make_unique<QtTimer>(seconds, false, std::move(fire));
    }
    std::unique_ptr<Timer> every(double seconds, std::function<void()> fire) override {
        return std::make_unique<QtTimer>(seconds, true, std::move(fire));
    }
};

} // namespace

std::shared_ptr<DictationClock> systemDictationClock() {
    return std::make_shared<SystemClock>();
}

} // namespace talvoro
