#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <filesystem>
#include <set>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

using namespace talvoro::testing;

namespace {

ProgramResult offscreen(const std::string& arguments) {
    return runProgram("env -u DISPLAY QT_QPA_PLATFORM=offscreen " + talvoroExecutable() +
                      " pilltest " + arguments + " 2>/dev/null");
}

std::set<std::string> filesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(PilltestCommand, ShotsWritesEachTypicalFrameInTheChosenTheme) {
    TempDir light, dark;
    ASSERT_EQ(offscreen("--shots " + light.path()).status, 0);
    ASSERT_EQ(offscreen("--theme dark --shots " + dark.path()).status, 0);
    const std::set<std::string> frames = {"pill-recording.png",      "pill-transcribing.png",
                                          "pill-inserted.png",       "pill-nowhere.png",
                                          "pill-queued.png",         "pill-failed.png",
                                          "pill-model-fetching.png", "pill-model-failed.png"};
    EXPECT_EQ(filesIn(light.path()), frames);
    EXPECT_EQ(filesIn(dark.path()), frames);

    const QImage lightShot(QString::fromStdString(light / "pill-recording.png"));
    const QImage darkShot(QString::fromStdString(dark / "pill-recording.png"));
    ASSERT_EQ(lightShot.size(), QSize(208, 38));
    EXPECT_EQ(lightShot.pixelColor(104, 4), QColor(0xfdfcf8));
    EXPECT_EQ(darkShot.pixelColor(104, 4), QColor(0x262624));
    // The nowhere frame names the hotkey, so it is wider than the smallest pill.
    EXPECT_GT(QImage(QString::fromStdString(light / "pill-nowhere.png")).width(), 208);
}

TEST(PilltestCommand, GrowWritesOneGrowingFramePerWord) {
    TempDir phrase, own;
    ASSERT_EQ(offscreen("--grow " + phrase.path()).status, 0);
    EXPECT_EQ(filesIn(phrase.path()).size(), 5u); // «Опять проверяем, — сказал сервер.»
    ASSERT_EQ(offscreen("--grow " + own.path() + " \"раз два\"").status, 0);
    EXPECT_EQ(filesIn(own.path()), (std::set<std::string>{"pill-grow-01.png", "pill-grow-02.png"}));
    const QImage first(QString::fromStdString(phrase / "pill-grow-01.png"));
    const QImage last(QString::fromStdString(phrase / "pill-grow-05.png"));
    EXPECT_GT(first.height(), 38); // live text under the row
    EXPECT_GT(last.width(), first.width());
}

TEST(PilltestCommand, OnScreenGrowthRunsUntilTerminated) {
    XvfbServer xvfb;
    if (!xvfb.running())
        GTEST_SKIP() << "Xvfb is not installed";
    const ProgramResult r = runProgram("timeout --preserve-status -s TERM 3 " +
                                       talvoroExecutable() + " pilltest 2>/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find(" слов по одному раз в 0.5 с, Ctrl-C выход\n"), std::string::npos)
        << r.output;
}

} // namespace
