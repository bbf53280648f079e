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
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".wav")
            bytes += entry.file_size(error);
    return bytes;
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
        ::unsetenv("AT_SPI_BUS_ADDRESS");
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        if (haveProgram("/usr/bin/dbus-daemon"))
            bus.emplace(dir.path());
        else
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        target.emplace(dir.path(), "field");
        ASSERT_TRUE(target->waitUntilActive()) << "the Qt window never became active";
    }

    XvfbServer xvfb;
    PulseServer pulse;
    TempDir dir;
    std::string folder = dir / "Dictation";
    std::optional<SessionBus> bus;
    std::optional<PasteTarget> target;
};

TEST_F(DictateStub, GreetsRecordsWithThePillShownAndPastesTheStubText) {
    AppProcess app({"dictate", "--stub"}, dir / "out");
    ASSERT_TRUE(app.printedLine("диктовка запущена: Alt+Space — нажать, сказать, нажать"))
        << app.printed();
    const std::string start = app.printed();
    EXPECT_NE(start.find("разрешения: микрофон да, мониторинг ввода да, универсальный доступ да"),
              std::string::npos)
        << start;
    EXPECT_NE(start.find("режим заглушки: вставляется фиксированная фраза, STT не вызывается"),
              std::string::npos);
    EXPECT_NE(start.find("аудио диктовки: " + folder), std::string::npos);
    EXPECT_NE(start.find("значка в трее не будет"), std::string::npos) << "no tray here";
    EXPECT_TRUE(waitFor([] { return windowViewable("talvoro pill"); }, 10)) << "the greeting";

    runProgram("xdotool mousemove 150 40"); // the pointer over the field, as when clicking in
    runProgram("xdotool key alt+space");
    // Half a second of sound in the file, whatever the clock says.
    ASSERT_TRUE(waitFor([&] { return recorded(folder) > 44 + 16000; }, 20)) << app.printed();
    EXPECT_TRUE(windowViewable("talvoro pill")) << "while recording";
    // For looking at it: TALVORO_SCREENSHOTS=folder keeps the screen as it is now.
    if (const char* shots = std::getenv("TALVORO_SCREENSHOTS"))
        runProgram("import -window root '" + std::string(shots) + "/dictate-recording.png'");
    runProgram("xdotool key alt+space");

    const std::string phrase = "проверка диктовки: записано ";
    EXPECT_TRUE(waitFor([&] { return target->typed().rfind(phrase, 0) == 0; }, 30))
        << "the field holds «" << target->typed() << "»; " << app.printed();
    EXPECT_TRUE(waitFor([] { return !windowViewable("talvoro pill"); }, 20))
        << "the pill stays after the linger";
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

} // namespace
} // namespace talvoro
