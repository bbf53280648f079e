#include "download/download_retry.h"

#include <QNetworkInformation>
#include <algorithm>

namespace talvoro {

DownloadRetry::DownloadRetry(std::function<void()> attempt, Arm arm)
    : attempt_(std::move(attempt)), arm_(std::move(arm)) {
    timer_.setSingleShot(true);
    if (!arm_)
        arm_ = [this](std::chrono::milliseconds delay, std::function<void()> fire) {
            timer_.disconnect();
            connect(&timer_, &QTimer::timeout, this, std::move(fire));
            timer_.start(delay);
        };
}

void DownloadRetry::watchNetwork() {
    if (!QNetworkInformation::loadDefaultBackend())
        return;
    QNetworkInformation* information = QNetworkInformation::instance();
    if (information == nullptr ||
        !information->supports(QNetworkInformation::Feature::Reachability))
        return;
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    networkReachable();
            });
}

void DownloadRetry::failed() {
    const auto delay = delays[std::min<std::size_t>(failures_, delays.size() - 1)];
    ++failures_;
    pending_ = true;
    arm_(delay, [this, generation = ++generation_] { fire(generation); });
}

void DownloadRetry::succeeded() {
    cancel();
    failures_ = 0;
}

void DownloadRetry::cancel() {
    pending_ = false;
    ++generation_;
    timer_.stop();
}

void DownloadRetry::networkReachable() {
    if (pending_)
        fire(generation_);
}

void DownloadRetry::fire(unsigned generation) {
    if (!pending_ || generation != generation_)
        return;
    cancel();
    if (attempt_)
        attempt_();
}

} // namespace talvoro
