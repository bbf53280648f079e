#include "recognition/stt_error.h"

#include "cleanup/unicode_text.h"

namespace talvoro {

STTError::STTError(Kind kind, std::string detail, int statusCode, const std::string& description)
    : std::runtime_error(description), kind_(kind), detail_(std::move(detail)),
      statusCode_(statusCode) {}

STTError STTError::noKey(const std::string& text) {
    return STTError(Kind::noKey, text, 0, "нет ключа распознавания: " + text);
}

STTError STTError::unreachable(const std::string& text) {
    return STTError(Kind::unreachable, text, 0, "STT недоступен: " + text);
}

STTError STTError::http(int statusCode, const std::string& body) {
    return STTError(Kind::http, body, statusCode,
                    "STT ответил " + std::to_string(statusCode) + ": " +
                        UnicodeText::firstCharacters(body, 200));
}

STTError STTError::badPayload(const std::string& text) {
    return STTError(Kind::badPayload, text, 0, "STT вернул неразбираемое: " + text);
}

bool STTError::isTransient() const {
    switch (kind_) {
    case Kind::unreachable:
        return true;
    case Kind::http:
        return statusCode_ > 499 || statusCode_ == 429;
    case Kind::noKey:
    case Kind::badPayload:
        return false;
    }
    return false;
}

} // namespace talvoro
