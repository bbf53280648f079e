// The tray application in a headless sway run as an ordinary user: our windows go through
// XWayland, the desktop's binding drives dictation through `talvoro start` and `talvoro stop`,
// and the text of the build's test model lands in an X11 field.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "support/headless_compositor.h"
#include "support/pulse_server.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/test_model_audio.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool eventually(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST(WaylandSession, SwayBindingDictatesIntoAnX11FieldWithThePillAtTheBottomCentre) {
    PulseServer pulse;
    if (!pulse.running())
        GTEST_SKIP() << "needs pulseaudio";
    // Without a bus of its own a client would start one through X11 that outlives the test.
    HeadlessCompositor sway(HeadlessCompositor::Kind::Sway);
    if (!sway.running())
        GTEST_SKIP() << sway.skipReason();
    HeadlessCompositor::letReach(pulse.folder());
    const fs::path home = sway.home();

    sway.start({TALVORO_PASTE_TARGET, "--out", (home / "typed").string(), "--ready",
                (home / "ready").string()},
               {{"QT_QPA_PLATFORM", "xcb"}, {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}});
    ASSERT_TRUE(HeadlessCompositor::waitFor(home / "ready", std::chrono::seconds(20)))
        << "the X11 field never became active";

    // A native window takes the focus: XWayland no longer knows where the user works.
    sway.start({"foot"}, {{"DBUS_SESSION_BUS_ADDRESS", "disabled:"}});
    ASSERT_TRUE(eventually(
        [&] {
            return sway.run({"swaymsg", "-t", "get_tree"}).output.find("\"app_id\": \"foot\"") !=
                   std::string::npos;
        },
        20));

    TempDir dir;
    const fs::path log = dir / "app.log";
    sway.start({talvoroExecutable()},
               {{"PULSE_SERVER", pulse.server()},
                {"MODEL_DIR", TALVORO_BINARY_DIR "/test-models/gigaam"},
                {"MODEL_SOURCES", "http://127.0.0.1:9"},
                {"DICTATION_DIR", (home / "Dictation").string()},
                {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}},
               log);
    ASSERT_TRUE(eventually(
        [&] { return readText(log).find("значка в трее не будет") != std::string::npos; }, 30))
        << readText(log);
    EXPECT_NE(readText(log).find("диктовка запущена: сочетание рабочего стола"), std::string::npos)
        << "Alt+Space means nothing to a native window; " << readText(log);

    // The greeting, mapped through XWayland, at the bottom centre.
    HeadlessCompositor::Result pill;
    ASSERT_TRUE(eventually(
        [&] {
            pill = sway.run({"xwininfo", "-name", "talvoro pill"});
            return pill.output.find("IsViewable") != std::string::npos;
        },
        20))
        << pill.output;
    std::smatch x, y, width, height;
    ASSERT_TRUE(std::regex_search(pill.output, x, std::regex("Absolute upper-left X: +(-?\\d+)")));
    std::regex_search(pill.output, y, std::regex("Absolute upper-left Y: +(-?\\d+)"));
    std::regex_search(pill.output, width, std::regex("Width: (\\d+)"));
    std::regex_search(pill.output, height, std::regex("Height: (\\d+)"));
    EXPECT_NEAR(std::stoi(x[1]) + std::stoi(width[1]) / 2, 1280 / 2, 1) << pill.output;
    EXPECT_NEAR(std::stoi(y[1]) + std::stoi(height[1]), 800 - 8, 12) << pill.output;

    ASSERT_EQ(sway.swaymsg("[title=\"paste target\"] focus").status, 0);
    const std::string talvoro = talvoroExecutable();
    ASSERT_EQ(sway.swaymsg("exec " + talvoro + " start").status, 0);
    const auto recording = [&] {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(home / "Dictation", error))
            if (entry.path().extension() == ".wav")
                return true;
        return false;
    };
    ASSERT_TRUE(eventually(recording, 20)) << readText(log);
    runProgram("paplay --device=" + PulseServer::sinkName() + " '" +
               writeTestModelGreeting(dir / "greeting.wav") + "'");
    ASSERT_EQ(sway.swaymsg("exec " + talvoro + " stop").status, 0);

    EXPECT_TRUE(
        eventually([&] { return readText(home / "typed").find("мир") != std::string::npos; }, 60))
        << "the field holds «" << readText(home / "typed") << "»; " << readText(log);
}

} // namespace
} // namespace talvoro
