#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace talvoro {

// While it lives, Ctrl-C and SIGTERM call `onQuit` from the event loop (through a pipe the
// handler writes into), so the application ends the normal way. One at a time.
class QuitSignals : public QObject {
public:
    explicit QuitSignals(std::function<void()> onQuit);
    ~QuitSignals() override;

private:
    std::function<void()> onQuit_;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace talvoro
