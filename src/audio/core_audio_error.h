#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace talvoro {

// The error of the audio subsystem. what() is the sentence the user sees.
class CoreAudioError : public std::runtime_error {
public:
    enum class Kind { status, message };

    // A sound-server call failed: the step and the status code it returned.
    static CoreAudioError status(const std::string& text, std::int32_t code);
    // A failure described by its text alone.
    static CoreAudioError message(const std::string& text);

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    std::int32_t code() const { return code_; }

    // The status's four bytes, most significant first, read as ASCII: empty when a byte is
    // not ASCII, "-" when one is a line break or NUL.
    static std::string fourCharCode(std::int32_t code);

private:
    CoreAudioError(Kind kind, std::string text, std::int32_t code, const std::string& description);

    Kind kind_;
    std::string text_;
    std::int32_t code_;
};

} // namespace talvoro
