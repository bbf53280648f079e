#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <filesystem>
#include <set>

#include "support/run_program.h"
#include "support/temp_dir.h"

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

} // namespace
