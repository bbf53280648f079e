#include "insertion/promised_text.h"

namespace talvoro::Paster {

void PromisedText::startClock() {
    startedAt = clock.now();
    std::lock_guard guard(lock);
    since_ = startedAt;
}

std::string PromisedText::provide() {
    double now = clock.now();
    std::lock_guard guard(lock);
    if (since_ && now >= *since_) {
        if (!first_)
            first_ = now;
        last_ = now;
    }
    return text;
}

std::optional<double> PromisedText::first() const {
    std::lock_guard guard(lock);
    return first_;
}

std::optional<double> PromisedText::last() const {
    std::lock_guard guard(lock);
    return last_;
}

} // namespace talvoro::Paster
