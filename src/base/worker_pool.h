#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talvoro {

// A few named threads that run independent tasks, up to one per thread at a time, oldest
// task first. For blocking work (recognition) that must stay off the main thread.
class WorkerPool {
public:
    using Task = std::function<void()>;

    WorkerPool(std::string label, int threads);
    ~WorkerPool(); // runs what is queued, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void async(Task task);
    // Blocks until nothing is queued and no task runs.
    void waitIdle();

private:
    void run();

    const std::string label;
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Task> tasks; // guarded by lock
    int running = 0;        // guarded by lock
    bool stopping = false;  // guarded by lock
    std::vector<std::thread> threads;
};

} // namespace talvoro
