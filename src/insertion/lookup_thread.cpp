#include "insertion/lookup_thread.h"

#include "base/serial_queue.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace talvoro {

struct LookupThread::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::function<void()> next; // guarded by lock: given, not yet started
    bool busy = false;          // guarded by lock: a lookup is given or running
    bool stopping = false;      // guarded by lock
    std::uint64_t finished = 0; // guarded by lock: lookups that ended
};

LookupThread::LookupThread(std::string name) : shared(std::make_shared<Shared>()) {
    thread = std::thread([shared = shared, name = std::move(name)] {
        nameCurrentThread(name);
        std::unique_lock guard(shared->lock);
        for (;;) {
            shared->changed.wait(guard, [&] { return shared->next || shared->stopping; });
            if (!shared->next)
                return;
            std::function<void()> lookup = std::move(shared->next);
            shared->next = nullptr;
            guard.unlock();
            lookup();
            guard.lock();
            shared->busy = false;
            ++shared->finished;
            shared->changed.notify_all();
        }
    });
}

LookupThread::~LookupThread() {
    bool busy;
    {
        std::lock_guard guard(shared->lock);
        shared->stopping = true;
        busy = shared->busy;
    }
    shared->changed.notify_all();
    if (busy)
        thread.detach();
    else
        thread.join();
}

LookupThread::Outcome LookupThread::run(std::function<void()> lookup,
                                        std::chrono::milliseconds within) {
    std::unique_lock guard(shared->lock);
    if (shared->busy)
        return Outcome::busy;
    shared->busy = true;
    shared->next = std::move(lookup);
    const std::uint64_t ticket = shared->finished + 1;
    shared->changed.notify_all();
    const bool ended =
        shared->changed.wait_for(guard, within, [&] { return shared->finished >= ticket; });
    return ended ? Outcome::answered : Outcome::late;
}

} // namespace talvoro
