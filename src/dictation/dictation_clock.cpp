#include "dictation/dictation_clock.h"

#include <QTimer>

#include <chrono>
#include <cmath>

namespace talvoro {

namespace {

// The handle may go while its own timeout runs (the call it makes can end its owner), so the
// QTimer is only stopped then and deleted from the event loop.
class QtTimer : public DictationClock::Timer {
public:
    QtTimer(double seconds, bool repeats, std::function<void()> fire) : timer(new QTimer) {
        timer->setSingleShot(!repeats);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, std::move(fire));
        timer->start(static_cast<int>(std::lround(seconds * 1000)));
    }
    ~QtTimer() override {
        timer->stop();
        QObject::disconnect(timer, nullptr, nullptr, nullptr);
        timer->deleteLater();
    }
    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

private:
    QTimer* timer;
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
