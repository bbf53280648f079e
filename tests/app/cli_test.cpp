#include <gtest/gtest.h>

#include <filesystem>
#include <pwd.h>
#include <unistd.h>

#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro::testing;

namespace {
const std::string usageStart =
    "Тальворо 0.1.0 — диктовка по хоткею, распознавание на этом компьютере\n";

ProgramResult runTalvoro(const std::string& arguments) {
    return runProgram("env -u DISPLAY -u WAYLAND_DISPLAY " + talvoroExecutable() + " " + arguments +
                      " 2>&1");
}
} // namespace

TEST(Cli, UnknownWordsEndInTheUsageTextWithStatusOne) {
    for (const char* args : {"frob", "--env /dev/null", "dictquality", "'' x"}) {
        ProgramResult r = runTalvoro(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.output.rfind(usageStart, 0), 0u) << args << ": " << r.output;
        // Where --log is needed on this system, not another system's launcher.
        EXPECT_TRUE(r.output.ends_with("из меню\n                           приложений или при "
                                       "входе в систему)\n"))
            << r.output;
        // The commands that run, and no other.
        for (const char* word : {"  dictate ", "  toggle ", "  paste-last ", "  quit ",
                                 "  pilltest ", "  dictateprobe ", "  cuttest "})
            EXPECT_NE(r.output.find(word), std::string::npos) << word;
        EXPECT_EQ(r.output.find("dictquality"), std::string::npos);
    }
}

TEST(Cli, LogOptionSendsTheUsageToAFreshFile) {
    TempDir dir;
    std::string log = dir.write("out.log", std::string(10000, 'x'));
    ProgramResult r = runTalvoro("frob --log " + log);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(readFile(log).rfind(usageStart, 0), 0u);
}

TEST(Cli, WindowedCommandsWithoutADisplaySaySoInsteadOfAborting) {
    for (const char* command : {"", "dictate --stub"}) {
        ProgramResult r =
            runProgram("env -u DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=" + TempDir().path() +
                       " " + talvoroExecutable() + " " + command + " 2>&1");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.output, "ошибка: нет связи с X-сервером (DISPLAY не задан) — окна и значок в "
                            "трее показать негде\n")
            << command;
    }
}

TEST(Cli, RemoteCommandsWithNothingRunningEndWithStatusOne) {
    TempDir runtime;
    for (const char* command : {"toggle", "paste-last", "quit"}) {
        ProgramResult r = runProgram("XDG_RUNTIME_DIR=" + runtime.path() + " " +
                                     talvoroExecutable() + " " + command + " 2>&1");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.output, "ошибка: Тальворо не запущено — управлять нечем (запусти talvoro)\n");
    }
    // No runtime folder (Qt's own fallback is taken by a file): the one in the temporary folder
    // must be ours alone, or none is used.
    TempDir tmp;
    tmp.write(std::string("runtime-") + ::getpwuid(::getuid())->pw_name, "");
    const std::string shared = tmp / ("talvoro-" + std::to_string(::getuid()));
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    ProgramResult r = runProgram("env -u XDG_RUNTIME_DIR TMPDIR=" + tmp.path() + " " +
                                 talvoroExecutable() + " toggle 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ошибка: папка " + shared + " чужая или открыта другим"),
              std::string::npos)
        << r.output;
}
