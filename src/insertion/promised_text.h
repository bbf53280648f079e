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

    // A pull: hands out the text, and notes its time when it came after the keystroke; an
    // earlier one (a clipboard manager's) is not the receiver's.
    std::string provide(bool afterKeystroke);

    std::optional<double> first() const;
    std::optional<double> last() const;

private:
    PasteClock& clock;
    mutable std::mutex lock;
    std::optional<double> first_; // guarded by lock
    std::optional<double> last_;  // guarded by lock
};

} // namespace talvoro::Paster
