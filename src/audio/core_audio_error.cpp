#include "audio/core_audio_error.h"

namespace talvoro {

CoreAudioError::CoreAudioError(Kind kind, std::string text, std::int32_t code,
                               const std::string& description)
    : std::runtime_error(description), kind_(kind), text_(std::move(text)), code_(code) {}

CoreAudioError CoreAudioError::status(const std::string& text, std::int32_t code) {
    std::string description =
        text + ": OSStatus " + std::to_string(code) + " (" + fourCharCode(code) + ")";
    return CoreAudioError(Kind::status, text, code, description);
}

CoreAudioError CoreAudioError::message(const std::string& text) {
    return CoreAudioError(Kind::message, text, 0, text);
}

std::string CoreAudioError::fourCharCode(std::int32_t code) {
    auto bits = static_cast<std::uint32_t>(code);
    std::string chars;
    for (int shift = 24; shift >= 0; shift -= 8)
        chars.push_back(static_cast<char>((bits >> shift) & 0xFF));
    for (char c : chars)
        if (static_cast<unsigned char>(c) > 0x7F)
            return "";
    for (char c : chars)
        if (c == '\0' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            return "-";
    return chars;
}

} // namespace talvoro
