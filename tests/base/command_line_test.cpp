#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/command_line.h"
#include "support/temp_dir.h"

using namespace talvoro;

TEST(CliCommand, DesktopLaunchDropsEveryArgumentOtherwiseTheFirstIsTheCommand) {
    auto parsed = cliCommand("dictation-menubar", {"-psn_0_123", "x", "y"});
    EXPECT_EQ(parsed.command, "dictation-menubar");
    EXPECT_TRUE(parsed.args.args().empty());
    EXPECT_EQ(cliCommand("fallback", {}).command, "fallback");
    parsed = cliCommand("dictation-menubar", {"--env", "a.env", "cuttest"});
    EXPECT_EQ(parsed.command, "--env"); // even when it looks like an option
    EXPECT_EQ(parsed.args.args(), (std::vector<std::string>{"a.env", "cuttest"}));
}

TEST(CommandLine, PositionalArgumentsSkipOptionValuesButNotSwitchesAndOptionsTakeTheNext) {
    EXPECT_EQ(CommandLine({"--delay", "3", "привет"}).positionalArgument(), "привет");
    EXPECT_EQ(CommandLine({"x", "--dry-run", "y"}).positionalArguments(),
              (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(CommandLine({"x", "--foo", "y"}).positionalArguments(),
              (std::vector<std::string>{"x"}));
    CommandLine fooBar({"x", "--foo", "--bar"});
    EXPECT_EQ(fooBar.positionalArguments(), (std::vector<std::string>{"x"}));
    EXPECT_EQ(fooBar.option("foo"), "--bar");
    EXPECT_EQ(CommandLine({"--stub"}).positionalArgument(), std::nullopt);
    EXPECT_EQ(CommandLine({"--no-commit", "a", "--all", "b"}).positionalArguments(),
              (std::vector<std::string>{"a", "b"}));
    // An option takes the next element, and nothing when last.
    EXPECT_EQ(CommandLine({"--env"}).option("env"), std::nullopt);
    EXPECT_EQ(CommandLine({"a"}).option("env"), std::nullopt);
    EXPECT_EQ(CommandLine({"--env", "x", "--env", "y"}).option("env"), "x");
    EXPECT_TRUE(CommandLine({"--stub", "--stub-fail"}).has("--stub-fail"));
    EXPECT_FALSE(CommandLine({"--stubby"}).has("--stub"));
}

TEST(Clock, FormatsMinutesAndHours) {
    const std::pair<double, std::string> cases[] = {{7, "00:07"},      {59.9, "00:59"},
                                                    {-3, "00:00"},     {3600, "1:00:00"},
                                                    {3725, "1:02:05"}, {3599.99, "59:59"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(clock(seconds), text) << seconds;
}

TEST(Bar, RoundsHalvesUpAndStaysTenWide) {
    auto bars = [](int lit) {
        std::string text;
        for (int i = 0; i < 10; ++i)
            text += i < lit ? "█" : "·";
        return text;
    };
    EXPECT_EQ(bar(0.04f), bars(0));
    EXPECT_EQ(bar(0.05f), bars(1));
    EXPECT_EQ(bar(1.7f), bars(10));
    EXPECT_EQ(bar(std::numeric_limits<float>::quiet_NaN()), bars(0));
}

TEST(LogOption, RedirectsBothStreamsToATruncatedFileButNotIntoAMissingFolder) {
    talvoro::testing::TempDir dir;
    std::string path = dir.write("out.log", "old content that must go\n");
    ::chmod(path.c_str(), 0600);
    int savedOut = ::dup(STDOUT_FILENO), savedErr = ::dup(STDERR_FILENO);
    applyLogOption(CommandLine({"--log", "/nonexistent-folder/x/out.log"})); // changes nothing
    struct stat before {
    }, after{};
    ::fstat(savedOut, &before);
    ::fstat(STDOUT_FILENO, &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    applyLogOption(CommandLine({"--log", path}));
    std::printf("на выход\n");
    std::fprintf(stderr, "в ошибки\n");
    std::fflush(stdout);
    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedOut);
    ::close(savedErr);
    std::string text = talvoro::testing::readFile(path);
    EXPECT_EQ(text.size(), std::string("на выход\nв ошибки\n").size());
    EXPECT_NE(text.find("на выход\n"), std::string::npos);
    EXPECT_NE(text.find("в ошибки\n"), std::string::npos);
}
