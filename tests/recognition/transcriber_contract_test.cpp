#include <chrono>
#include <clocale>
#include <thread>

#include <gtest/gtest.h>

#include "recognition/dictation_engine_store.h"
#include "recognition/local_model_missing.h"
#include "recognition/missing_local_model.h"
#include "recognition/stt_error.h"
#include "recognition/stub_transcriber.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::TempDir;

TEST(StubTranscriber, ReportsSecondsFromTheFileSizeAlone) {
    TempDir dir;
    StubTranscriber stub(0);
    EXPECT_EQ(stub.transcribe(dir.write("half.wav", std::string(16044, 'x'))),
              "проверка диктовки: записано 0.5 секунды, текст вставлен целиком.");
    EXPECT_EQ(stub.transcribe(dir.write("short.wav", std::string(44, 'x'))),
              "проверка диктовки: записано 0.0 секунды, текст вставлен целиком.");
    EXPECT_EQ(stub.transcribe(dir / "missing.wav"),
              "проверка диктовки: записано 0.0 секунды, текст вставлен целиком.");
}

TEST(StubTranscriber, PhraseUsesAPointWhateverTheLocale) {
    std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
    EXPECT_EQ(StubTranscriber::phrase(1.26),
              "проверка диктовки: записано 1.3 секунды, текст вставлен целиком.");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(StubTranscriber, FailsOnlyAfterTheDelay) {
    StubTranscriber stub(0.2, true);
    const auto start = std::chrono::steady_clock::now();
    try {
        stub.transcribe("/nonexistent.wav");
        FAIL() << "no error";
    } catch (const STTError& error) {
        EXPECT_EQ(error.kind(), STTError::Kind::unreachable);
        EXPECT_TRUE(error.isTransient());
        EXPECT_STREQ(error.what(), "STT недоступен: заглушка: сервер «недоступен»");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
}

TEST(StubTranscriber, StopTokenEndsTheWaitEarly) {
    StubTranscriber stub(30);
    std::stop_source source;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        source.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(stub.transcribe("/x.wav", source.get_token()), TranscriptionCancelled);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(MissingLocalModel, AlwaysSaysTheModelIsNotDownloaded) {
    MissingLocalModel engine;
    EXPECT_EQ(engine.identity(), "модель не скачана");
    try {
        engine.transcribe("/whatever.wav");
        FAIL() << "no error";
    } catch (const LocalModelMissing& error) {
        EXPECT_EQ(error.detail(), "части модели не доехали");
        EXPECT_STREQ(error.what(), "модель не скачана: части модели не доехали");
    }
}

TEST(STTError, DescriptionsAndTransience) {
    EXPECT_STREQ(STTError::noKey("x").what(), "нет ключа распознавания: x");
    EXPECT_STREQ(STTError::badPayload("y").what(), "STT вернул неразбираемое: y");
    EXPECT_FALSE(STTError::noKey("x").isTransient());
    EXPECT_FALSE(STTError::badPayload("x").isTransient());
    EXPECT_FALSE(STTError::http(401, "").isTransient());
    EXPECT_FALSE(STTError::http(499, "").isTransient());
    EXPECT_TRUE(STTError::http(429, "").isTransient());
    EXPECT_TRUE(STTError::http(500, "").isTransient());
    EXPECT_TRUE(STTError::http(503, "").isTransient());
}

TEST(STTError, HttpBodyIsCutAt200CharactersWithoutBreakingOne) {
    std::string body;
    for (int i = 0; i < 300; ++i)
        body += "ё";
    const std::string description = STTError::http(502, body).what();
    std::string expected = "STT ответил 502: ";
    for (int i = 0; i < 200; ++i)
        expected += "ё";
    EXPECT_EQ(description, expected);
    EXPECT_STREQ(STTError::http(404, "нет").what(), "STT ответил 404: нет");
}

TEST(DictationEngineStore, ThisBuildAlwaysRecognisesLocally) {
    Config config;
    config.dictationEngine = DictationEngine::server;
    DictationEngineStore::set(DictationEngine::server);
    EXPECT_EQ(DictationEngineStore::stored(), DictationEngine::server);
    EXPECT_EQ(DictationEngineStore::current(config), DictationEngine::local);
    DictationEngineStore::set(DictationEngine::local);
    EXPECT_EQ(DictationEngineStore::stored(), DictationEngine::local);
}

TEST(DictationEngineStore, EmptyModelFolderGivesTheMissingModelEngine) {
    TempDir dir;
    Config config;
    config.modelDir = dir.path();
    EXPECT_EQ(DictationEngineStore::modelFolder(config), dir.path());
    EXPECT_EQ(dictationTranscriber(config)->identity(), "модель не скачана");
}

} // namespace
} // namespace talvoro
