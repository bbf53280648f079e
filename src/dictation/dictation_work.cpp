#include "dictation/dictation_work.h"

#include "base/serial_queue.h"
#include "base/worker_pool.h"

namespace talvoro::DictationWork {

namespace {

WorkerPool& recognisers() {
    static WorkerPool pool("ostrel.dictation", 3);
    return pool;
}

SerialQueue& inserter() {
    static SerialQueue queue("ostrel.paste");
    return queue;
}

} // namespace

void recognise(std::function<void()> task) {
    recognisers().async(std::move(task));
}

void insert(std::function<void()> task) {
    inserter().async(std::move(task));
}

void settle() {
    recognisers().waitIdle();
    inserter().sync([] {});
}

} // namespace talvoro::DictationWork
