#pragma once

#include <atomic>
#include <cstdint>

namespace talvoro {

// The frames one recording has in its file so far. The recording's sink sets it after every
// write; anyone who holds it may read it from any thread, also after the recording has ended.
class SampleCount {
public:
    std::int64_t value() const { return frames.load(std::memory_order_acquire); }
    void set(std::int64_t count) { frames.store(count, std::memory_order_release); }

private:
    std::atomic<std::int64_t> frames{0};
};

} // namespace talvoro
