#pragma once

namespace talvoro {

// The time an insertion measures its waits on, and how it pauses between looks at the
// pasteboard. Tests give a clock of their own so that every interval is exact.
class PasteClock {
public:
    virtual ~PasteClock() = default;
    // Seconds on a clock that never jumps. Any thread.
    virtual double now() = 0;
    // Pauses the calling thread.
    virtual void pause(double seconds) = 0;
};

// The monotonic clock. Its pause keeps the Qt event loop turning when called on the main thread,
// so that whatever the pasteboard delivers through it still runs during the wait.
PasteClock& systemPasteClock();

} // namespace talvoro
