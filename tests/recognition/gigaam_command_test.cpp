#include <gtest/gtest.h>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/test_model_audio.h"

using namespace talvoro::testing;

namespace {

const std::string modelFolder = TALVORO_BINARY_DIR "/test-models/gigaam";

ProgramResult gigaamtest(const std::string& folder, const std::string& arguments) {
    return runProgram("MODEL_DIR='" + folder + "' " + talvoroExecutable() + " gigaamtest " +
                      arguments + " 2>&1");
}

} // namespace

TEST(GigaamtestCommand, PrintsTheRecognisedTextBesideTheKeptOneAndGoesOnPastAFailure) {
    TempDir dir;
    talvoro::testing::writeTestModelGreeting(dir / "пример.wav");
    dir.write("пример.json", R"({"text": "привет, мир"})");
    dir.write("битый.wav", "RIFF, но не WAV");
    const auto result = gigaamtest(modelFolder, "--wav '" + dir.path() + "'");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("пример.wav\n  gigaam:  привет мир\n  whisper: привет, мир\n"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("битый.wav\n  gigaam:  — ошибка —\n"), std::string::npos);
    EXPECT_NE(result.output.find(" с на 2 записей\n"), std::string::npos);
}

TEST(GigaamtestCommand, WithoutAModelSaysWhereItLookedAndFails) {
    TempDir dir;
    const auto result = gigaamtest(dir / "пусто", "--wav x.wav");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("модель GigaAM не скачана в " + (dir / "пусто")),
              std::string::npos)
        << result.output;
}
