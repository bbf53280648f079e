#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace talvoro {

// A named thread that runs one lookup at a time for callers who wait a bounded time. A lookup
// that outlives its caller's wait keeps the thread busy until it ends, and whoever asks
// meanwhile is turned away at once instead of queueing behind it: an application that stopped
// answering costs one wait, not one per question, and nothing is left over to run at exit.
class LookupThread {
public:
    enum class Outcome {
        answered, // the lookup ran and ended within the wait
        late,     // the wait ended first; the lookup goes on, its answer is dropped
        busy,     // an earlier lookup is still running; this one never ran
    };

    explicit LookupThread(std::string name);
    // Never waits for a lookup in progress: the thread is then left to end on its own.
    ~LookupThread();
    LookupThread(const LookupThread&) = delete;
    LookupThread& operator=(const LookupThread&) = delete;

    // `lookup` must keep what it writes alive itself: after `late` nobody waits for it.
    Outcome run(std::function<void()> lookup, std::chrono::milliseconds within);

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    std::thread thread;
};

} // namespace talvoro
