#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
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

    // What the timers read the time from and wait on; tests put in one they move by hand.
    class TimeSource {
    public:
        virtual ~TimeSource() = default;
        virtual Clock::time_point now() const = 0;
        // With lock held: waits on wake until due, or until wake is notified.
        virtual void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                               Clock::time_point due) const = 0;
    };

    // Without a time source the queue uses the monotonic clock.
    explicit SerialQueue(std::string label, std::shared_ptr<const TimeSource> time = nullptr);
    // Runs what is queued, then joins. Destroyed by one of its own tasks, it lets the thread
    // run what is left and end by itself.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    void async(Task task);
    // Runs the task on the queue and waits for it; runs it inline when called from the queue.
    void sync(const Task& task);
    bool isCurrent() const { return std::this_thread::get_id() == threadId; }

    // First run one interval from now. The id cancels it; cancelling a fired one-shot is
    // harmless. Due timers run before queued tasks.
    TimerId every(std::chrono::nanoseconds interval, Task task);
    void cancel(TimerId id);

private:
    struct State; // shared with the thread, which may outlive the queue object
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state;
    std::thread thread;
    std::thread::id threadId;
};

// Names the calling thread; the system keeps only the first 15 bytes.
void nameCurrentThread(const std::string& name);

} // namespace talvoro
