#include "dictation/dictation_work.h"

#include <atomic>

#include "base/serial_queue.h"
#include "base/worker_pool.h"

namespace talvoro::DictationWork {

namespace {

// Set once either is first used, so that settling a program that never dictated starts no
// threads.
std::atomic<bool> recognisersMade = false;
std::atomic<bool> inserterMade = false;

// Never destroyed, so that settling works from an exit handler too (Qt leaves with exit() when
// the X server goes away, after the statics made since the handler was registered are gone).
WorkerPool& recognisers() {
    static WorkerPool& pool = *new WorkerPool("ostrel.dictation", 3);
    recognisersMade = true;
    return pool;
}

SerialQueue& inserter() {
    static SerialQueue& queue = *new SerialQueue("ostrel.paste");
    inserterMade = true;
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
    if (recognisersMade)
        recognisers().waitIdle();
    if (inserterMade)
        inserter().sync([] {});
}

} // namespace talvoro::DictationWork
