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

} // namespace
