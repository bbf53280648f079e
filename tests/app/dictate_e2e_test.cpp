// `talvoro dictate --stub` as a user runs it: an Xvfb of the test's own without a tray, a
// PulseAudio null sink as the microphone, a real Qt text field in focus and the hotkey pressed
// through XTest.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/app_process.h"
#include "support/pulse_server.h"
#include "support/xvfb_server.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;

std::uintmax_t recorded(const std::string& folder) {
    std::uintmax_t bytes = 0;
    std::error_code error;
    for (const auto& wav : wavs(folder))
        bytes += fs::file_size(wav, error);
    return bytes;
}

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

int phrasesIn(const std::string& text) {
    return occurrences(text, "проверка диктовки: записано ");
}

class DictateStub : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running() || !pulse.running())
            GTEST_SKIP() << "needs Xvfb and pulseaudio";
        for (const char* program : {"/usr/bin/xwininfo", "/usr/bin/xdotool"})
            if (!haveProgram(program))
                GTEST_SKIP() << program << " is not installed";
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        ::setenv("MODEL_SOURCES", "http://127.0.0.1:9", 1);
        ::setenv("DICTATION_DIR", folder.c_str(), 1);
        ::setenv("QT_NO_GLIB", "1", 1);
        startAccessibleSession(bus, dir.path());
        target.emplace(dir.path(), "field", slowPasteMs);
        ASSERT_TRUE(target->waitUntilActive()) << "the Qt window never became active";
    }

    // Started, with half a second of sound recorded whatever the clock says.
    void startRecording(AppProcess& app) {
        ASSERT_TRUE(app.printedLine("диктовка запущена")) << app.printed();
        runProgram("xdotool mousemove 150 40"); // the pointer over the field, as when clicking in
        runProgram("xdotool key alt+space");
        ASSERT_TRUE(waitFor([&] { return recorded(folder) > 44 + 16000; }, 20)) << app.printed();
    }

    XvfbServer xvfb;
    PulseServer pulse;
    TempDir dir;
    std::string folder = dir / "Dictation";
    std::optional<SessionBus> bus;
    std::optional<PasteTarget> target;
    int slowPasteMs = 0;
};

// The stopping press lets go of Alt first, a common way of letting go: while Space is still
// down the program's own grab gets every key, Ctrl+V included. The stub takes a second, so
// Space is held past it.
TEST_F(DictateStub, GreetsRecordsWithThePillShownAndPastesOnceTheHotkeyIsUp) {
    AppProcess app({"dictate", "--stub", "--debug"}, dir / "out");
    ASSERT_TRUE(app.printedLine("диктовка запущена: Alt+Space — нажать, сказать, нажать"))
        << app.printed();
    const std::string start = app.printed();
    for (const std::string& line : std::vector<std::string>{
             "разрешения: микрофон да, мониторинг ввода да, универсальный доступ да",
             "режим заглушки: вставляется фиксированная фраза, STT не вызывается",
             "аудио диктовки: " + folder, "значка в трее не будет"}) // no tray here
        EXPECT_NE(start.find(line), std::string::npos) << line << " in " << start;
    EXPECT_TRUE(waitFor([] { return windowViewable("talvoro pill"); }, 10)) << "the greeting";

    startRecording(app);
    EXPECT_TRUE(windowViewable("talvoro pill")) << "while recording";
    // For looking at it: TALVORO_SCREENSHOTS=folder keeps the screen as it is now.
    if (const char* shots = std::getenv("TALVORO_SCREENSHOTS"))
        runProgram("import -window root '" + std::string(shots) + "/dictate-recording.png'");
    const std::string rollOff =
        "xdotool keydown alt keydown space; sleep 0.05; xdotool keyup alt; ";
    runProgram(rollOff + "sleep 1.3; xdotool keyup space");
    EXPECT_TRUE(waitFor([&] { return phrasesIn(target->typed()) == 1; }, 30))
        << "the field holds «" << target->typed() << "»; " << app.printed();
    EXPECT_TRUE(waitFor([] { return !windowViewable("talvoro pill"); }, 20))
        << "the pill stays after the linger";
    ASSERT_TRUE(wavs(folder).empty());

    // Held longer than the paste waits: nobody took the text, so it is not delivered.
    runProgram("xdotool key alt+space");
    ASSERT_TRUE(waitFor([&] { return recorded(folder) > 44 + 16000; }, 20));
    runProgram(rollOff + "sleep 3; xdotool keyup space");
    const auto finals = [&] {
        return occurrences(app.printed(), " inserted(") + occurrences(app.printed(), " nowhere");
    };
    ASSERT_TRUE(waitFor([&] { return finals() == 2; }, 20)) << app.printed();
    EXPECT_EQ(occurrences(app.printed(), " nowhere"), 1) << "not reported as inserted";
    EXPECT_EQ(phrasesIn(target->typed()), 1) << target->typed();
    EXPECT_EQ(wavs(folder).size(), 1u) << "the recording is kept";
    EXPECT_EQ(runProgram(talvoroExecutable() + " paste-last 2>&1").status, 0);
    EXPECT_TRUE(waitFor([&] { return phrasesIn(target->typed()) == 2; }, 10)) << target->typed();
    EXPECT_TRUE(waitFor([&] { return wavs(folder).empty(); }, 10))
        << "delivered now: nothing for the next start to paste again";
    EXPECT_EQ(app.stop(SIGTERM), 0) << app.printed();
}

TEST_F(DictateStub, WithoutASoundServerItSaysSoAndEnds) {
    pulse.kill();
    AppProcess app({"dictate", "--stub"}, dir / "out");
    EXPECT_EQ(app.wait(30), 1);
    EXPECT_NE(app.printed().find("ошибка: микрофон недоступен — звуковой сервер "
                                 "(PulseAudio/PipeWire) не отдал источник записи"),
              std::string::npos)
        << app.printed();
}

class DictateStubSlowField : public DictateStub {
protected:
    void SetUp() override {
        slowPasteMs = 600;
        DictateStub::SetUp();
    }
};

// Quitting while the field has not yet asked for the text: the text arrives once, and the
// recording is gone before the program ends, so the next start does not paste it again.
TEST_F(DictateStubSlowField, QuittingDuringAPasteLeavesNothingToPasteAgain) {
    AppProcess app({"dictate", "--stub"}, dir / "out");
    startRecording(app);
    runProgram("xdotool key alt+space");
    const auto promised = [] {
        return runProgram("timeout 2 xclip -selection clipboard -t TARGETS -o 2>/dev/null")
                   .output.find("x-kde-passwordManagerHint") != std::string::npos;
    };
    ASSERT_TRUE(waitFor(promised, 20)) << app.printed();
    EXPECT_EQ(runProgram(talvoroExecutable() + " quit 2>&1").status, 0);
    EXPECT_EQ(app.wait(20), 0) << app.printed();
    EXPECT_TRUE(waitFor([&] { return phrasesIn(target->typed()) == 1; }, 5)) << target->typed();
    EXPECT_TRUE(wavs(folder).empty());
    EXPECT_TRUE(wavs(folder + "/pending").empty());
}

} // namespace
} // namespace talvoro
