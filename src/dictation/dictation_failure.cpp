#include "dictation/dictation_failure.h"

#include <filesystem>

#include "insertion/paster_failure.h"
#include "recognition/local_model_missing.h"
#include "recognition/local_recognition_error.h"
#include "recognition/network_error.h"
#include "recognition/stt_error.h"

namespace talvoro {

namespace {

const char* const waits = " — надиктованное ждёт в очереди";

} // namespace

DictationFailure::DictationFailure(const std::exception& error)
    : DictationFailure(true, "не вышло", error.what()) {
    if (const auto* stt = dynamic_cast<const STTError*>(&error)) {
        const std::string code = std::to_string(stt->statusCode());
        switch (stt->kind()) {
        case STTError::Kind::noKey:
            *this = {false, "не настроен ключ", "ключа распознавания нет: " + stt->detail()};
            return;
        case STTError::Kind::unreachable:
            *this = {true, "нет сервера", std::string("сервер распознавания не отвечает") + waits};
            return;
        case STTError::Kind::http:
            if (stt->statusCode() == 401 || stt->statusCode() == 403)
                *this = {false, "ключ не принят",
                         "сервер не пустил (" + code + ") — ключ неверный или отозван"};
            else if (stt->statusCode() == 429)
                *this = {true, "сервер занят", "сервер ответил " + code + waits};
            else if (stt->statusCode() >= 500)
                *this = {true, "сбой сервера", "сервер ответил " + code + waits};
            else
                *this = {false, "сервер отказал · " + code,
                         "сервер ответил " + code +
                             " — запрос ему не годится, ожидание не поможет"};
            return;
        case STTError::Kind::badPayload:
            *this = {false, "непонятный ответ",
                     "сервер ответил неразбираемым — версия контура не та"};
            return;
        }
    }
    if (const auto* missing = dynamic_cast<const LocalModelMissing*>(&error)) {
        *this = {false, "модель не скачана",
                 missing->detail() + " — нужна сеть один раз, дальше связь не нужна"};
        return;
    }
    if (const auto* local = dynamic_cast<const LocalRecognitionError*>(&error)) {
        const std::string name = std::filesystem::path(local->file()).filename().string();
        if (local->kind() == LocalRecognitionError::Kind::brokenModel)
            *this = {false, "модель повреждена",
                     "файл " + name + " не годится — удали его, и модель скачается заново"};
        else
            *this = {false, "запись не того формата",
                     name + ": " + local->detail() + " — ожидание не поможет", true};
        return;
    }
    if (const auto* unreadable = dynamic_cast<const UnreadableRecording*>(&error)) {
        *this = {false, "запись не читается",
                 std::filesystem::path(unreadable->file()).filename().string() + ": " +
                     unreadable->what() + " — отложена в сторону, ожидание не поможет",
                 true};
        return;
    }
    // Keys refused (a desktop's dialog said no or went unanswered, no right to the device):
    // a retry every 20 s would only ask again. The sentence says what to do.
    if (const auto* paste = dynamic_cast<const Paster::Failure*>(&error);
        paste && paste->code() == Paster::Failure::Code::noPermission) {
        *this = {false, "клавиши не разрешены", paste->what()};
        return;
    }
    if (const auto* network = dynamic_cast<const NetworkError*>(&error)) {
        *this = {true, "нет сети",
                 "не дозвонились до сервера (" + std::to_string(static_cast<int>(network->code())) +
                     ")" + waits};
        return;
    }
}

DictationFailure::DictationFailure(std::exception_ptr error)
    : DictationFailure(true, "не вышло", "неизвестная ошибка") {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& known) {
        *this = DictationFailure(known);
    } catch (...) {
    }
}

} // namespace talvoro
