#include "base/worker_pool.h"

#include "base/serial_queue.h"

namespace talvoro {

WorkerPool::WorkerPool(std::string label, int threads) : label(std::move(label)) {
    for (int i = 0; i < threads; ++i)
        this->threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& thread : threads) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach(); // the last task let go of the pool: it ends after that task
        else
            thread.join();
    }
}

void WorkerPool::async(Task task) {
    {
        std::lock_guard guard(lock);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void WorkerPool::waitIdle() {
    std::unique_lock guard(lock);
    idle.wait(guard, [&] { return running == 0 && tasks.empty(); });
}

void WorkerPool::run() {
    nameCurrentThread(label);
    std::unique_lock guard(lock);
    for (;;) {
        wake.wait(guard, [&] { return stopping || !tasks.empty(); });
        if (tasks.empty())
            return;
        Task task = std::move(tasks.front());
        tasks.pop_front();
        ++running;
        guard.unlock();
        task();
        task = nullptr; // what it held goes before the next wait
        guard.lock();
        if (--running == 0 && tasks.empty())
            idle.notify_all();
    }
}

} // namespace talvoro
