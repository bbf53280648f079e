#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio/wav_writer.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro::testing;

namespace {

const std::string modelFolder = TALVORO_BINARY_DIR "/test-models/gigaam";

// "привет мир" in the test model's tones: 300 Hz, then 450 Hz, each held 0.32 s.
std::string writeGreeting(const TempDir& dir, const std::string& name) {
    const std::string path = dir / name;
    talvoro::WAVWriter writer(path);
    std::vector<std::int16_t> samples(5120, 0);
    for (const double frequency : {300.0, 450.0}) {
        for (int i = 0; i < 5120; ++i)
            samples.push_back(static_cast<std::int16_t>(
                std::lround(16000 * std::sin(2 * std::numbers::pi * frequency * i / 16000))));
        samples.insert(samples.end(), 5120, 0);
    }
    writer.write(samples);
    writer.close();
    return path;
}

ProgramResult gigaamtest(const std::string& folder, const std::string& arguments) {
    return runProgram("MODEL_DIR='" + folder + "' " + talvoroExecutable() + " gigaamtest " +
                      arguments + " 2>&1");
}

} // namespace

TEST(GigaamtestCommand, PrintsTheRecognisedTextBesideTheKeptOneAndGoesOnPastAFailure) {
    TempDir dir;
    const std::string wav = writeGreeting(dir, "пример.wav");
    dir.write("пример.json", R"({"text": "привет, мир"})");
    dir.write("битый.wav", "RIFF, но не WAV");
    const auto result = gigaamtest(modelFolder, "--wav '" + dir.path() + "'");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("пример.wav\n  gigaam:  привет мир\n  whisper: привет, мир\n"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("битый.wav\n  gigaam:  — ошибка —\n"), std::string::npos);
    EXPECT_NE(result.output.find(" с на 2 записей\n"), std::string::npos);

    const auto single = gigaamtest(modelFolder, "'" + wav + "' --window 8");
    EXPECT_EQ(single.status, 0) << single.output;
    EXPECT_NE(single.output.find("  gigaam:  привет мир\n"), std::string::npos) << single.output;
}

TEST(GigaamtestCommand, WithoutAModelSaysWhereItLookedAndFails) {
    TempDir dir;
    const auto result = gigaamtest(dir / "пусто", "--wav x.wav");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("модель GigaAM не скачана в " + (dir / "пусто")),
              std::string::npos)
        << result.output;
}
