#pragma once

#include <exception>
#include <string>

namespace talvoro {

// What a failed recognition means for the user: whether waiting can help, a short label
// and one sentence of explanation.
class DictationFailure {
public:
    explicit DictationFailure(const std::exception& error);
    // Also errors that are not std::exception ("не вышло").
    explicit DictationFailure(std::exception_ptr error);

    bool isTransient() const { return isTransient_; }
    const std::string& text() const { return text_; }
    const std::string& hint() const { return hint_; }

private:
    DictationFailure(bool isTransient, std::string text, std::string hint)
        : isTransient_(isTransient), text_(std::move(text)), hint_(std::move(hint)) {}

    bool isTransient_;
    std::string text_;
    std::string hint_;
};

} // namespace talvoro
