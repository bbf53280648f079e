#include "insertion/promised_text.h"

#include <chrono>

namespace talvoro::Paster {

double clockSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string PromisedText::provide() {
    double now = clockSeconds();
    std::lock_guard guard(lock);
    if (!first_)
        first_ = now;
    last_ = now;
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
