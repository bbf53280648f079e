#pragma once

#include "insertion/paste_clock.h"

#include <mutex>
#include <optional>
#include <string>

namespace talvoro::Paster {

// The data provider of one insertion's promised pasteboard item. The pasteboard calls `provide`
// on its own thread; the waiting thread reads the pull times.
class PromisedText {
public:
    PromisedText(std::string text, PasteClock& clock)
        : text(std::move(text)), startedAt(clock.now()), clock(clock) {}

    const std::string text;
    // Written and read only by the thread running the insertion.
    double startedAt;

    // Sets `startedAt` to now, immediately before the keystroke. Only pulls from then on count:
    // a clipboard reader that takes every new text at once must not pass for the receiver, or the
    // restore would come before the receiver pulled.
    void startClock();

    // Hands out the text, and notes the time when it is a pull.
    std::string provide();

    std::optional<double> first() const;
    std::optional<double> last() const;

private:
    PasteClock& clock;
    mutable std::mutex lock;
    std::optional<double> since_; // guarded by lock: when pulls began to count
    std::optional<double> first_; // guarded by lock
    std::optional<double> last_;  // guarded by lock
};

} // namespace talvoro::Paster
