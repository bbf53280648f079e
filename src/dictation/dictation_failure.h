#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace talvoro {

// A recording that does not read as audio (empty, cut short before its header, not WAV).
class UnreadableRecording : public std::runtime_error {
public:
    UnreadableRecording(std::string file, const std::string& detail)
        : std::runtime_error(detail), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// What a failed recognition means for the user: whether waiting can help, a short label
// and one sentence of explanation.
class DictationFailure {
public:
    explicit DictationFailure(const std::exception& error);
    // Also errors that are not std::exception ("не вышло").
    explicit DictationFailure(std::exception_ptr error);

    bool isTransient() const { return isTransient_; }
    // The recording itself can never be recognised: it is set aside, not retried.
    bool isUnreadable() const { return isUnreadable_; }
    const std::string& text() const { return text_; }
    const std::string& hint() const { return hint_; }

private:
    DictationFailure(bool isTransient, std::string text, std::string hint,
                     bool isUnreadable = false)
        : isTransient_(isTransient), isUnreadable_(isUnreadable), text_(std::move(text)),
          hint_(std::move(hint)) {}

    bool isTransient_;
    bool isUnreadable_;
    std::string text_;
    std::string hint_;
};

} // namespace talvoro
