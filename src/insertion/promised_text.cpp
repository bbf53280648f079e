#include "insertion/promised_text.h"

namespace talvoro::Paster {

std::string PromisedText::provide(bool afterKeystroke) {
    if (!afterKeystroke)
        return text;
    double now = clock.now();
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
