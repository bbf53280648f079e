// The tray application in a headless sway run as an ordinary user: our windows go through
// XWayland, the desktop's binding drives dictation through `talvoro start` and `talvoro stop`,
// and the text of the build's test model lands in an X11 field.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "app/app_process.h"
#include "support/headless_compositor.h"
#include "support/pulse_server.h"
#include "support/test_model_audio.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;

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

    // A native window takes the focus: XWayland no longer knows where the user works. The
    // account has no login shell, so the terminal is given a program of its own.
    sway.start({"foot", "sleep", "600"}, {{"DBUS_SESSION_BUS_ADDRESS", "disabled:"}});
    ASSERT_TRUE(waitFor(
        [&] {
            return sway.run({"swaymsg", "-t", "get_tree"}).output.find("\"app_id\": \"foot\"") !=
                   std::string::npos;
        },
        20));

    TempDir dir;
    const std::string log = dir / "app.log";
    sway.start({talvoroExecutable()},
               {{"PULSE_SERVER", pulse.server()},
                {"MODEL_DIR", TALVORO_BINARY_DIR "/test-models/gigaam"},
                {"MODEL_SOURCES", "http://127.0.0.1:9"},
                {"DICTATION_DIR", (home / "Dictation").string()},
                {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}},
               log);
    ASSERT_TRUE(waitFor(
        [&] { return readFile(log).find("значка в трее не будет") != std::string::npos; }, 30))
        << readFile(log);

    // The greeting, mapped through XWayland, at the bottom centre.
    HeadlessCompositor::Result pill;
    ASSERT_TRUE(waitFor(
        [&] {
            pill = sway.run({"xwininfo", "-name", "talvoro pill"});
            return pill.output.find("IsViewable") != std::string::npos;
        },
        20))
        << pill.output;
    const auto number = [&](const std::string& field) {
        std::smatch m;
        return std::regex_search(pill.output, m, std::regex(field + ": +(-?\\d+)"))
                   ? std::stoi(m[1])
                   : -1000;
    };
    EXPECT_NEAR(number("Absolute upper-left X") + number("Width") / 2, 1280 / 2, 1) << pill.output;
    EXPECT_NEAR(number("Absolute upper-left Y") + number("Height"), 800 - 8, 12) << pill.output;

    ASSERT_EQ(sway.swaymsg("[title=\"paste target\"] focus").status, 0);
    const std::string talvoro = talvoroExecutable();
    ASSERT_EQ(sway.swaymsg("exec " + talvoro + " start").status, 0);
    ASSERT_TRUE(waitFor([&] { return !wavs(home / "Dictation").empty(); }, 20)) << readFile(log);
    runProgram("paplay --device=" + PulseServer::sinkName() + " '" +
               writeTestModelGreeting(dir / "greeting.wav") + "'");
    ASSERT_EQ(sway.swaymsg("exec " + talvoro + " stop").status, 0);

    EXPECT_TRUE(
        waitFor([&] { return readFile(home / "typed").find("мир") != std::string::npos; }, 60))
        << "the field holds «" << readFile(home / "typed") << "»; " << readFile(log);
}

} // namespace
} // namespace talvoro
