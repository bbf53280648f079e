#include <clocale>

#include <gtest/gtest.h>

#include "recognition/stt_error.h"
#include "recognition/stub_transcriber.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::TempDir;

TEST(StubTranscriber, ReportsSecondsFromTheFileSizeAloneWithAPointWhateverTheLocale) {
    TempDir dir;
    StubTranscriber stub(0);
    std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
    EXPECT_EQ(stub.transcribe(dir.write("half.wav", std::string(16044, 'x'))),
              "проверка диктовки: записано 0.5 секунды, текст вставлен целиком.");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(stub.transcribe(dir.write("short.wav", std::string(44, 'x'))),
              "проверка диктовки: записано 0.0 секунды, текст вставлен целиком.");
    EXPECT_EQ(stub.transcribe(dir / "missing.wav"),
              "проверка диктовки: записано 0.0 секунды, текст вставлен целиком.");
}

// The failure comes only after the wait: a stop during the wait ends the call as cancelled.
TEST(StubTranscriber, FailsAfterItsWaitWhichAStopEnds) {
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(StubTranscriber(3600, true).transcribe("/x.wav", stop.get_token()),
                 TranscriptionCancelled);
    try {
        StubTranscriber(0, true).transcribe("/x.wav");
        FAIL() << "no error";
    } catch (const STTError& error) {
        EXPECT_EQ(error.kind(), STTError::Kind::unreachable);
        EXPECT_TRUE(error.isTransient());
        EXPECT_STREQ(error.what(), "STT недоступен: заглушка: сервер «недоступен»");
    }
}

TEST(STTError, TransienceFromTheStatusAndTheBodyCutWholeCharacters) {
    EXPECT_FALSE(STTError::http(499, "").isTransient());
    EXPECT_TRUE(STTError::http(429, "").isTransient());
    EXPECT_TRUE(STTError::http(500, "").isTransient());
    // The body is cut at 200 characters, never inside one.
    std::string body;
    for (int i = 0; i < 300; ++i)
        body += "ё";
    EXPECT_EQ(std::string(STTError::http(502, body).what()),
              "STT ответил 502: " + body.substr(0, 400));
}

} // namespace
} // namespace talvoro
