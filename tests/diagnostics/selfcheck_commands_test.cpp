#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/run_program.h"

using namespace talvoro::testing;

namespace {

ProgramResult runTalvoro(const std::string& arguments) {
    return runProgram("env -u DISPLAY -u WAYLAND_DISPLAY " + talvoroExecutable() + " " + arguments +
                      " 2>&1");
}

TEST(SelfCheckCommands, CuttestPrintsOnlyItsSummary) {
    const ProgramResult r = runTalvoro("cuttest");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "\nнарезка и чистка сходятся (27 проверок)\n");
    // The dictionary checks work on a file of their own, never on the user's.
    const std::string home = std::getenv("HOME");
    EXPECT_FALSE(std::filesystem::exists(home + "/.config/vendrik/замены.txt"));
}

TEST(SelfCheckCommands, DeliverytestPrintsOnlyItsSummary) {
    const ProgramResult r = runTalvoro("deliverytest");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "\nразбор сбоев доставки сходится (11 проверок)\n");
}

TEST(SelfCheckCommands, FocustestPrintsOnlyItsSummary) {
    const ProgramResult r = runTalvoro("focustest");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "\nтаблица фокуса сходится (15 проверок)\n");
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

} // namespace
