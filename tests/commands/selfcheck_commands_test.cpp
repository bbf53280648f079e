#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "audio/wav_writer.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro::testing;

namespace {

ProgramResult runTalvoro(const std::string& arguments) {
    return runProgram("env -u DISPLAY -u WAYLAND_DISPLAY " + talvoroExecutable() + " " + arguments +
                      " 2>&1");
}

TEST(SelfCheckCommands, EachPrintsOnlyItsSummary) {
    const std::pair<const char*, const char*> summaries[] = {
        {"cuttest", "\nнарезка и чистка сходятся (28 проверок)\n"},
        {"deliverytest", "\nразбор сбоев доставки сходится (11 проверок)\n"},
        {"focustest", "\nтаблица фокуса сходится (15 проверок)\n"},
    };
    for (const auto& [command, summary] : summaries) {
        const ProgramResult r = runTalvoro(command);
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.output, summary);
    }
    // The dictionary checks work on a file of their own, never on the user's.
    const std::string home = std::getenv("HOME");
    EXPECT_FALSE(std::filesystem::exists(home + "/.config/vendrik/замены.txt"));
}

// Without a display the commands that need one say so, not that an extension is missing.
TEST(InsertionCommands, WithoutADisplayNameTheDisplay) {
    for (const char* command : {"paste 'текст' --delay 0", "focusprobe --delay 0", "pastetest"}) {
        const ProgramResult r = runTalvoro(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.output.find("нет связи с X-сервером (DISPLAY)"), std::string::npos)
            << command << ": " << r.output;
        EXPECT_EQ(r.output.find("XTEST"), std::string::npos) << r.output;
    }
}

TEST(SelfCheckCommands, SampletestPassesOnTheBuildsTestModelAndSaysSo) {
    const ProgramResult r = runTalvoro("sampletest");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("на учебной модели сборки"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\nсбор разметки сходится (23 проверок)\n"), std::string::npos);
}

TEST(SelfCheckCommands, OfflinetestPassesOnTheBuildsTestModelAndSaysSo) {
    TempDir temporary; // its own, so that a run beside it leaves nothing here
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    const ProgramResult r = runTalvoro("offlinetest");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("на учебной модели сборки"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("распознано: «привет мир как дела да нет»"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\nсборка без сети сходится (28 проверок)\n"), std::string::npos)
        << r.output;
    for (const auto& entry : std::filesystem::directory_iterator(temporary.path()))
        EXPECT_NE(entry.path().filename().string().rfind("offlinetest-", 0), 0u)
            << entry.path() << " was left behind";
}

// A recording of silence hears nothing: the recogniser's checks fail and say so.
TEST(SelfCheckCommands, OfflinetestFailsOnARecordingWithoutWords) {
    TempDir dir;
    const std::string silence = dir / "тишина.wav";
    talvoro::WAVWriter writer(silence);
    writer.write(std::vector<std::int16_t>(3 * 16000, 0));
    writer.close();
    const ProgramResult r = runTalvoro("offlinetest --wav '" + silence + "'");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("✗ GigaAM распознаёт: текст пуст"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("✗ итог локального показа не пуст"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("своя запись — слова фразы не сверяю"), std::string::npos);
    EXPECT_EQ(r.output.find("✗ вычеркнуто"), std::string::npos) << r.output;
}

} // namespace
