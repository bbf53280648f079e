#include "base/serial_queue.h"

#include <deque>
#include <future>
#include <map>
#include <pthread.h>

namespace talvoro {

namespace {

class MonotonicTime : public SerialQueue::TimeSource {
public:
    SerialQueue::Clock::time_point now() const override { return SerialQueue::Clock::now(); }
    void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   SerialQueue::Clock::time_point due) const override {
        wake.wait_until(lock, due);
    }
};

} // namespace

struct SerialQueue::State {
    State(std::string label, std::shared_ptr<const TimeSource> time)
        : label(std::move(label)), time(std::move(time)) {}

    struct Timer {
        Clock::time_point due;
        std::chrono::nanoseconds interval;
        Task task;
    };

    const std::string label;
    const std::shared_ptr<const TimeSource> time;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Task> tasks;          // guarded by lock
    std::map<TimerId, Timer> timers; // guarded by lock
    TimerId nextTimer = 1;           // guarded by lock
    bool stopping = false;           // guarded by lock

    // With lock held: the task of the earliest due timer, rescheduled, or nothing.
    Task dueTimerLocked() {
        if (timers.empty())
            return nullptr;
        auto next = timers.begin();
        for (auto it = timers.begin(); it != timers.end(); ++it)
            if (it->second.due < next->second.due)
                next = it;
        const Clock::time_point now = time->now();
        if (now < next->second.due)
            return nullptr;
        next->second.due += next->second.interval;
        if (next->second.due <= now)
            next->second.due = now + next->second.interval;
        return next->second.task; // a copy: the timer may be cancelled while it runs
    }

    // With lock held and nothing to run: sleeps until the earliest timer or a notification.
    void sleepLocked(std::unique_lock<std::mutex>& guard) {
        if (timers.empty()) {
            wake.wait(guard);
            return;
        }
        Clock::time_point due = Clock::time_point::max();
        for (const auto& [id, timer] : timers)
            due = std::min(due, timer.due);
        time->waitUntil(wake, guard, due);
    }
};

void nameCurrentThread(const std::string& name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

SerialQueue::SerialQueue(std::string label, std::shared_ptr<const TimeSource> time)
    : state(std::make_shared<State>(std::move(label),
                                    time ? std::move(time) : std::make_shared<MonotonicTime>())) {
    thread = std::thread(run, state);
    threadId = thread.get_id();
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard guard(state->lock);
        state->stopping = true;
        state->timers.clear();
    }
    state->wake.notify_all();
    if (isCurrent())
        thread.detach(); // the thread holds the state and ends after the tasks left
    else
        thread.join();
}

const std::string& SerialQueue::label() const {
    return state->label;
}

void SerialQueue::async(Task task) {
    {
        std::lock_guard guard(state->lock);
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
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
        std::lock_guard guard(state->lock);
        id = state->nextTimer++;
        state->timers[id] = State::Timer{state->time->now() + interval, interval, std::move(task)};
    }
    state->wake.notify_one();
    return id;
}

void SerialQueue::cancel(TimerId id) {
    std::lock_guard guard(state->lock);
    state->timers.erase(id);
}

void SerialQueue::run(const std::shared_ptr<State>& state) {
    nameCurrentThread(state->label);
    std::unique_lock guard(state->lock);
    for (;;) {
        Task task = state->dueTimerLocked();
        if (!task && !state->tasks.empty()) {
            task = std::move(state->tasks.front());
            state->tasks.pop_front();
        }
        if (task) {
            guard.unlock();
            task();
            task = nullptr; // whatever the task holds goes before the lock is taken again
            guard.lock();
            continue;
        }
        if (state->stopping)
            return;
        state->sleepLocked(guard);
    }
}

} // namespace talvoro
