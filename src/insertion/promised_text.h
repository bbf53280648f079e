#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace talvoro::Paster {

// Seconds on a clock that never jumps; the pull-wait measures every interval on it.
double clockSeconds();

// The data provider of one insertion's promised pasteboard item. The pasteboard calls `provide`
// on its own thread; the waiting thread reads the pull times.
class PromisedText {
public:
    explicit PromisedText(std::string text) : text(std::move(text)), startedAt(clockSeconds()) {}

    const std::string text;
    // Written and read only by the thread running the insertion.
    double startedAt;

    // A pull: notes its time and hands out the text.
    std::string provide();

    std::optional<double> first() const;
    std::optional<double> last() const;

private:
    mutable std::mutex lock;
    std::optional<double> first_; // guarded by lock
    std::optional<double> last_;  // guarded by lock
};

} // namespace talvoro::Paster
