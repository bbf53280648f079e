#include <stdexcept>

#include <gtest/gtest.h>

#include "dictation/dictation_failure.h"
#include "insertion/paster_failure.h"
#include "recognition/local_model_missing.h"
#include "recognition/local_recognition_error.h"
#include "recognition/network_error.h"
#include "recognition/stt_error.h"

namespace talvoro {
namespace {

struct Row {
    std::exception_ptr error;
    bool isTransient;
    std::string text;
    std::string hint;
};

template <typename E> std::exception_ptr of(E error) {
    return std::make_exception_ptr(std::move(error));
}

TEST(DictationFailure, ServerLocalAndForeignErrors) {
    const std::string waits = " — надиктованное ждёт в очереди";
    const Row rows[] = {
        {of(STTError::noKey("записи `kestrow-key` нет в связке")), false, "не настроен ключ",
         "ключа распознавания нет: записи `kestrow-key` нет в связке"},
        {of(STTError::unreachable("Could not connect to the server.")), true, "нет сервера",
         "сервер распознавания не отвечает" + waits},
        {of(STTError::http(403, "b")), false, "ключ не принят",
         "сервер не пустил (403) — ключ неверный или отозван"},
        {of(STTError::http(503, "b")), true, "сбой сервера", "сервер ответил 503" + waits},
        {of(STTError::http(404, "b")), false, "сервер отказал · 404",
         "сервер ответил 404 — запрос ему не годится, ожидание не поможет"},
        {of(STTError::badPayload("x")), false, "непонятный ответ",
         "сервер ответил неразбираемым — версия контура не та"},
        {of(LocalModelMissing("части модели не доехали")), false, "модель не скачана",
         "части модели не доехали — нужна сеть один раз, дальше связь не нужна"},
        {of(LocalRecognitionError::brokenModel("/m/gigaam-v3-encoder.onnx", "onnxruntime: x")),
         false, "модель повреждена",
         "файл gigaam-v3-encoder.onnx не годится — удали его, и модель скачается заново"},
        {of(LocalRecognitionError::unfitRecording("/q/a.wav", "нужен PCM16 mono 16 кГц")), false,
         "запись не того формата", "a.wav: нужен PCM16 mono 16 кГц — ожидание не поможет"},
        {of(NetworkError(QNetworkReply::RemoteHostClosedError, "closed")), true, "нет сети",
         "не дозвонились до сервера (2)" + waits},
        {of(Paster::Failure::refused("разреши клавиши")), false, "клавиши не разрешены",
         "разреши клавиши"},
        {of(Paster::Failure::eventCreationFailed()), true, "не вышло",
         "не удалось создать событие клавиатуры"},
        {of(std::runtime_error("чужая ошибка")), true, "не вышло", "чужая ошибка"},
        {of(42), true, "не вышло", "неизвестная ошибка"},
        {nullptr, true, "не вышло", "неизвестная ошибка"},
    };
    for (const Row& row : rows) {
        const DictationFailure failure(row.error);
        EXPECT_EQ(failure.isTransient(), row.isTransient) << row.text;
        EXPECT_EQ(failure.text(), row.text);
        EXPECT_EQ(failure.hint(), row.hint);
    }
}

} // namespace
} // namespace talvoro
