#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace talvoro {

// A named thread that runs tasks one after another in the order they were given,
// with optional repeating timers that run on the same thread.
class SerialQueue {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;
    using TimerId = std::uint64_t;

    explicit SerialQueue(std::string label);
    ~SerialQueue(); // runs what is queued, then joins
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void async(Task task);
    // Runs the task on the queue and waits for it; runs it inline when called from the queue.
    void sync(const Task& task);
    bool isCurrent() const { return std::this_thread::get_id() == thread.get_id(); }

    // First run one interval from now. The id cancels it; cancelling a fired one-shot is harmless.
    TimerId every(std::chrono::nanoseconds interval, Task task);
    void cancel(TimerId id);

private:
    struct Timer {
        Clock::time_point due;
        std::chrono::nanoseconds interval;
        Task task;
    };
    void run();

    const std::string label_;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Task> tasks;          // guarded by lock
    std::map<TimerId, Timer> timers; // guarded by lock
    TimerId nextTimer = 1;           // guarded by lock
    bool stopping = false;           // guarded by lock
    std::thread thread;
};

// Names the calling thread; the system keeps only the first 15 bytes.
void nameCurrentThread(const std::string& name);

} // namespace talvoro
