#pragma once

#include <mutex>
#include <utility>

namespace talvoro {

// A value box whose every single read or write takes the lock once.
// A read followed by a write is two critical sections, not one.
template <typename Value> class Atomic {
public:
    explicit Atomic(Value initial) : storage(std::move(initial)) {}

    Value value() const {
        std::lock_guard guard(lock);
        return storage;
    }
    void setValue(Value newValue) {
        std::lock_guard guard(lock);
        storage = std::move(newValue);
    }

private:
    mutable std::mutex lock;
    Value storage; // guarded by lock
};

} // namespace talvoro
