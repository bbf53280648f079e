#include "audio/core_audio_error.h"

namespace talvoro {

CoreAudioError::CoreAudioError(Kind kind, std::string text, std::int32_t code)
    : std::runtime_error(text), kind_(kind), text_(std::move(text)), code_(code) {}

CoreAudioError CoreAudioError::status(const std::string& text, std::int32_t code) {
    return CoreAudioError(Kind::status, text, code);
}

CoreAudioError CoreAudioError::message(const std::string& text) {
    return CoreAudioError(Kind::message, text, 0);
}

CoreAudioError CoreAudioError::inputUnavailable(bool serverAnswers) {
    return message(serverAnswers
                       ? "микрофон недоступен — у звукового сервера нет источника записи"
                       : "микрофон недоступен — звуковой сервер (PulseAudio/PipeWire) не отвечает");
}

} // namespace talvoro
