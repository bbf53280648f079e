#include "base/main_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <atomic>
#include <deque>
#include <mutex>

namespace talvoro {

namespace {

// Blocks travel through a mailbox of our own, and the main thread learns of them from a plain
// posted event: the hand-over then goes through a lock that thread checkers see, and no
// object made on the sending thread is used or freed by the main thread outside that lock.
struct Mailbox {
    std::mutex lock;
    std::deque<std::function<void()>> blocks; // guarded by lock
};

// Never destroyed: Qt ends the process with exit() when the X server goes away, and worker
// threads still hand blocks over while the exit handlers run.
Mailbox& mailbox() {
    static Mailbox& box = *new Mailbox;
    return box;
}

// Set once the main event loop will not run again; blocks handed over after that are dropped.
std::atomic<bool> closed{false};

// One posted event per block, so the oldest block runs first. The event itself is not read.
void runOldest() {
    std::function<void()> block;
    {
        Mailbox& box = mailbox();
        std::lock_guard guard(box.lock);
        if (box.blocks.empty())
            return;
        block = std::move(box.blocks.front());
        box.blocks.pop_front();
    }
    block();
}

class Doorbell : public QObject {
public:
    bool event(QEvent*) override {
        runOldest();
        return true;
    }
};

// Made on the main thread as each application object is made, before any other thread can
// ring it.
std::atomic<Doorbell*> doorbell{nullptr};

void installDoorbell() {
    doorbell.store(new Doorbell);
}
Q_COREAPP_STARTUP_FUNCTION(installDoorbell)

} // namespace

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

void onMainThread(std::function<void()> block) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        block();
        return;
    }
    if (closed)
        return;
    {
        Mailbox& box = mailbox();
        std::lock_guard guard(box.lock);
        box.blocks.push_back(std::move(block));
    }
    if (Doorbell* bell = doorbell.load())
        QCoreApplication::postEvent(bell, new QEvent(QEvent::User));
    else
        QMetaObject::invokeMethod(app, runOldest, Qt::QueuedConnection);
}

void closeMainThread() {
    closed = true;
}

} // namespace talvoro
