#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace talvoro {

// The error of the audio subsystem. what() is the sentence the user sees.
class CoreAudioError : public std::runtime_error {
public:
    enum class Kind { status, message };

    // A sound-server call failed: the sentence and the server's error code, kept for
    // programs (the sentence does not show it).
    static CoreAudioError status(const std::string& text, std::int32_t code);
    // A failure described by its text alone.
    static CoreAudioError message(const std::string& text);
    // No input to record from: the sound server did not answer, or it has no source.
    static CoreAudioError inputUnavailable(bool serverAnswers);

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    std::int32_t code() const { return code_; }

private:
    CoreAudioError(Kind kind, std::string text, std::int32_t code);

    Kind kind_;
    std::string text_;
    std::int32_t code_;
};

} // namespace talvoro
