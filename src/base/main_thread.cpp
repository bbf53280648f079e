#include "base/main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <deque>
#include <mutex>

namespace talvoro {

namespace {

// Blocks travel through a mailbox of our own rather than inside Qt's event: the hand-over
// then goes through a lock that thread checkers see, along with everything the block carries.
struct Mailbox {
    std::mutex lock;
    std::deque<std::function<void()>> blocks; // guarded by lock
};

Mailbox& mailbox() {
    static Mailbox box;
    return box;
}

// One posted event per block, so the oldest block runs first.
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
    {
        Mailbox& box = mailbox();
        std::lock_guard guard(box.lock);
        box.blocks.push_back(std::move(block));
    }
    QMetaObject::invokeMethod(app, runOldest, Qt::QueuedConnection);
}

} // namespace talvoro
