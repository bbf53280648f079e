// The tray application as a whole under an Xvfb of the test's own: an XEmbed tray (trayer), a
// StatusNotifierWatcher on a private session bus, no tray at all, one instance with its remote
// control, and a dictation through `dictate --stub` into a real Qt text field.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/app_process.h"
#include "hotkey/x11_key_client.h"
#include "support/event_loop.h"
#include "support/pulse_server.h"
#include "support/xvfb_server.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;

class TrayApp : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        if (!xvfb.running())
            GTEST_SKIP() << "needs Xvfb";
        for (const char* program : {"/usr/bin/xwininfo", "/usr/bin/xdotool"})
            if (!haveProgram(program))
                GTEST_SKIP() << program << " is not installed";
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        // No model here, and no network either: a download fails at once.
        ::setenv("MODEL_SOURCES", "http://127.0.0.1:9", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        ::setenv("QT_NO_GLIB", "1", 1);
    }

    XvfbServer xvfb;
    TempDir dir;
};

TEST_F(TrayApp, IconSitsInAnXEmbedTray) {
    if (!haveProgram("/usr/bin/trayer"))
        GTEST_SKIP() << "trayer is not installed";
    ChildProcess tray({"/usr/bin/trayer", "--edge", "top", "--align", "right", "--widthtype",
                       "pixel", "--width", "200", "--height", "24"});
    ASSERT_TRUE(waitFor([] { return windowViewable("panel"); }, 10));
    AppProcess app({}, dir / "out");
    const auto inPanel = [] {
        return runProgram("xwininfo -tree -name panel").output.find("(\"talvoro\" \"talvoro\")") !=
               std::string::npos;
    };
    EXPECT_TRUE(waitFor(inPanel, 20)) << runProgram("xwininfo -root -tree").output;
    EXPECT_EQ(app.printed().find("значка в трее не будет"), std::string::npos) << app.printed();
    EXPECT_EQ(app.stop(SIGTERM), 0) << app.printed();
}

// The watcher's side of the StatusNotifierItem protocol, as much as a tray icon asks of it.
class Watcher : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
</interface>)";
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == "RegisterStatusNotifierItem") {
            items << message.arguments().value(0).toString();
            connection.send(message.createReply());
            return true;
        }
        if (message.interface() == "org.freedesktop.DBus.Properties" && message.member() == "Get") {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
            return true;
        }
        return false;
    }
    QStringList items;
};

TEST_F(TrayApp, RegistersWithAStatusNotifierWatcher) {
    if (!haveProgram("/usr/bin/dbus-daemon"))
        GTEST_SKIP() << "dbus-daemon is not installed";
    SessionBus bus(dir.path());
    ASSERT_TRUE(bus.running());
    QDBusConnection connection = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), "watcher");
    ASSERT_TRUE(connection.isConnected());
    Watcher watcher;
    ASSERT_TRUE(connection.registerVirtualObject("/StatusNotifierWatcher", &watcher));
    ASSERT_TRUE(connection.registerService("org.kde.StatusNotifierWatcher"));

    AppProcess app({}, dir / "out");
    EXPECT_TRUE(processUntil([&] { return !watcher.items.isEmpty(); })) << app.printed();
    EXPECT_EQ(app.printed().find("значка в трее не будет"), std::string::npos) << app.printed();
    EXPECT_EQ(app.stop(SIGTERM), 0) << app.printed();
    connection.unregisterService("org.kde.StatusNotifierWatcher");
    QDBusConnection::disconnectFromBus("watcher");
}

TEST_F(TrayApp, WithoutATrayItRunsAloneAsTheOnlyInstanceAndEndsOnSigterm) {
    ::setenv("DICTATION_DIR", (dir / "Dictation").c_str(), 1);
    AppProcess app({}, dir / "out");
    ASSERT_TRUE(app.printedLine("значка в трее не будет")) << app.printed();
    EXPECT_NE(app.printed().find("talvoro quit"), std::string::npos);
    ASSERT_TRUE(waitFor([] { return windowViewable("talvoro pill"); }, 10)) << "the greeting";

    const ProgramResult second = runProgram(talvoroExecutable() + " 2>&1");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.output, "Тальворо уже запущено\n");
    const ProgramResult dictate = runProgram(talvoroExecutable() + " dictate --stub 2>&1");
    EXPECT_EQ(dictate.output, "Тальворо уже запущено\n");

    EXPECT_EQ(app.stop(SIGTERM), 0) << app.printed();

    const ProgramResult none = runProgram(talvoroExecutable() + " toggle 2>&1");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, "ошибка: Тальворо не запущено — управлять нечем (запусти talvoro)\n");
}

TEST_F(TrayApp, AnAltSpaceHeldByTheDesktopGivesWayToAFreeCombinationUnlessTheUserChoseIt) {
    PulseServer pulse;
    if (!pulse.running())
        GTEST_SKIP() << "needs pulseaudio";
    // The desktop's window manager, first on the display with Alt+Space.
    Typist desktop;
    const xcb_void_cookie_t grab = xcb_grab_key_checked(
        desktop.connection(), 1,
        xcb_setup_roots_iterator(xcb_get_setup(desktop.connection())).data->root, XCB_MOD_MASK_1,
        desktop.keycode(keysym::space), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    ASSERT_EQ(xcb_request_check(desktop.connection(), grab), nullptr);
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    ::setenv("DICTATION_DIR", (dir / "Dictation").c_str(), 1);

    AppProcess app({"dictate", "--stub"}, dir / "out");
    ASSERT_TRUE(app.printedLine("диктовка запущена: Ctrl+Alt+Space")) << app.printed();
    EXPECT_TRUE(
        app.printedLine("хоткей: Alt+Space занято другой программой — диктовка на Ctrl+Alt+Space"))
        << app.printed();
    EXPECT_EQ(app.stop(SIGTERM), 0) << app.printed();
    EXPECT_NE(readFile(dir / "state/vendrik/log").find("хоткей: Alt+Space занято"),
              std::string::npos);

    const ProgramResult chosen =
        runProgram("DICTATION_HOTKEY=alt+space " + talvoroExecutable() + " dictate --stub 2>&1");
    EXPECT_EQ(chosen.status, 1);
    EXPECT_NE(chosen.output.find("сочетание Alt+Space уже занято"), std::string::npos)
        << chosen.output;
    ::unsetenv("XDG_STATE_HOME");
}

TEST_F(TrayApp, QuitCommandEndsTheRunningInstance) {
    AppProcess app({}, dir / "out");
    ASSERT_TRUE(app.printedLine("значка в трее не будет")) << app.printed();
    EXPECT_EQ(runProgram(talvoroExecutable() + " quit 2>&1").status, 0);
    EXPECT_EQ(app.wait(20), 0) << app.printed();
}

// Qt ends the program with exit(1) when its X server goes away: a recording in progress is
// closed on disk, and a recognition in flight ends without a crash, its recording kept.
TEST_F(TrayApp, AnXServerThatGoesAwayEndsItWithTheRecordingClosedOnDisk) {
    PulseServer pulse;
    if (!pulse.running())
        GTEST_SKIP() << "needs pulseaudio";
    for (const bool recognising : {false, true}) {
        SCOPED_TRACE(recognising ? "recognising" : "recording");
        std::optional<XvfbServer> display(std::in_place);
        ASSERT_TRUE(display->running());
        const std::string folder = dir / (recognising ? "recognising" : "recording");
        ::setenv("DICTATION_DIR", folder.c_str(), 1);
        AppProcess app({"dictate", "--stub"}, dir / "out");
        ASSERT_TRUE(app.printedLine("значка в трее не будет")) << app.printed();
        ASSERT_EQ(runProgram(talvoroExecutable() + " toggle 2>&1").status, 0);
        ASSERT_TRUE(waitFor(
            [&] { return !wavs(folder).empty() && fs::file_size(wavs(folder)[0]) > 44 + 8000; },
            20));
        if (recognising) { // the stub takes a second
            ASSERT_EQ(runProgram(talvoroExecutable() + " toggle 2>&1").status, 0);
        }

        display.reset();
        EXPECT_EQ(app.wait(30), 1) << app.printed();
        ASSERT_EQ(wavs(folder).size(), 1u);
        const std::string bytes = readFile(wavs(folder)[0]);
        ASSERT_GT(bytes.size(), 44u);
        std::uint32_t riff = 0;
        std::memcpy(&riff, bytes.data() + 4, 4);
        EXPECT_EQ(riff, bytes.size() - 8) << "the header counts every sample written";
    }
    EXPECT_NE(readFile(std::string(std::getenv("HOME")) + "/.local/state/vendrik/log")
                  .find("связь с X-сервером оборвалась"),
              std::string::npos);
}

} // namespace
} // namespace talvoro
