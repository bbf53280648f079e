#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>

namespace talvoro {

// Starts a failed download again by itself: after 1, 5 and 30 minutes (then every 30), and at
// once when the system reports that the network became reachable. Main thread only.
class DownloadRetry : public QObject {
public:
    static constexpr std::array<std::chrono::minutes, 3> delays = {
        std::chrono::minutes(1), std::chrono::minutes(5), std::chrono::minutes(30)};
    // Arms the one pending retry: `fire` is to be called once `delay` has passed. Tests give
    // their own instead of the real timer.
    using Arm = std::function<void(std::chrono::milliseconds delay, std::function<void()> fire)>;

    explicit DownloadRetry(std::function<void()> attempt, Arm arm = {});

    // Listens to Qt's network information where the platform has a backend for it.
    void watchNetwork();

    void failed();    // the attempt failed: the next one is armed
    void succeeded(); // counting starts again from the first delay
    void cancel();    // no retry is pending any more
    void networkReachable();

    bool pending() const { return pending_; }
    int failures() const { return failures_; }

private:
    void fire(unsigned generation);

    const std::function<void()> attempt_;
    Arm arm_;
    QTimer timer_;
    int failures_ = 0;
    bool pending_ = false;
    unsigned generation_ = 0; // a fire of an earlier arming is ignored
};

} // namespace talvoro
