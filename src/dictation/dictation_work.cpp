#include "dictation/dictation_work.h"

#include "base/serial_queue.h"
#include "base/worker_pool.h"

namespace talvoro::DictationWork {

void recognise(std::function<void()> task) {
    static WorkerPool pool("ostrel.dictation", 3);
    pool.async(std::move(task));
}

void insert(std::function<void()> task) {
    static SerialQueue queue("ostrel.paste");
    queue.async(std::move(task));
}

} // namespace talvoro::DictationWork
