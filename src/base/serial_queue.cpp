#include "base/serial_queue.h"

#include <future>
#include <pthread.h>

namespace talvoro {

void nameCurrentThread(const std::string& name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(lock);
        stopping = true;
        timers.clear();
    }
    wake.notify_all();
    if (thread.joinable()) {
        if (isCurrent())
            thread.detach();
        else
            thread.join();
    }
}

void SerialQueue::async(Task task) {
    {
        std::lock_guard guard(lock);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void SerialQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    std::promise<void> done;
    async([&] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

SerialQueue::TimerId SerialQueue::every(std::chrono::nanoseconds interval, Task task) {
    TimerId id;
    {
        std::lock_guard guard(lock);
        id = nextTimer++;
        timers[id] = Timer{Clock::now() + interval, interval, std::move(task)};
    }
    wake.notify_one();
    return id;
}

void SerialQueue::cancel(TimerId id) {
    std::lock_guard guard(lock);
    timers.erase(id);
}

void SerialQueue::run() {
    nameCurrentThread(label_);
    std::unique_lock guard(lock);
    for (;;) {
        if (!tasks.empty()) {
            Task task = std::move(tasks.front());
            tasks.pop_front();
            guard.unlock();
            task();
            guard.lock();
            continue;
        }
        if (stopping)
            return;
        auto next = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it)
            if (next == timers.end() || it->second.due < next->second.due)
                next = it;
        if (next == timers.end()) {
            wake.wait(guard);
            continue;
        }
        // A copy: the timer may be cancelled while we wait without the lock.
        const Clock::time_point due = next->second.due;
        if (Clock::now() < due) {
            wake.wait_until(guard, due);
            continue;
        }
        // Copy the task: the timer may be cancelled while it runs.
        Task task = next->second.task;
        next->second.due += next->second.interval;
        if (next->second.due < Clock::now())
            next->second.due = Clock::now() + next->second.interval;
        guard.unlock();
        task();
        guard.lock();
    }
}

} // namespace talvoro
