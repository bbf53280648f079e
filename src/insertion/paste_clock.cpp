#include "insertion/paste_clock.h"

#include "base/main_thread.h"

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <thread>

namespace talvoro {

namespace {

class SystemPasteClock final : public PasteClock {
public:
    double now() override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void pause(double seconds) override {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        if (isMainThread() && QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::AllEvents,
                                            static_cast<int>(std::ceil(seconds * 1000)));
        std::this_thread::sleep_until(until);
    }
};

} // namespace

PasteClock& systemPasteClock() {
    // Never destroyed: the paste thread may still be waiting on it while the process exits.
    static SystemPasteClock& clock = *new SystemPasteClock;
    return clock;
}

} // namespace talvoro
