#include "base/main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace talvoro {

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
    QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

} // namespace talvoro
