#include "insertion/data_control_pasteboard.h"
#include "insertion/paster.h"
#include "support/headless_compositor.h"

#include <gtest/gtest.h>

#include <fstream>

namespace talvoro {
namespace {

using testing::HeadlessCompositor;
using testing::readFile;
using namespace std::chrono_literals;

// A window that takes text, started in the session; `output` holds what it received.
struct Receiver {
    std::string name;
    std::vector<std::string> argv;
    std::map<std::string, std::string> environment;
};

// A raw terminal program for foot: whatever reaches it is written to the file at once.
std::string rawReader(const std::filesystem::path& out, const std::filesystem::path& ready) {
    return "import os,tty\ntty.setraw(0)\nf=open('" + out.string() + "','wb',0)\nopen('" +
           ready.string() +
           "','w').close()\nwhile True:\n d=os.read(0,4096)\n if not d: break\n f.write(d)\n";
}

class WaylandInsertion : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway.running())
            GTEST_SKIP() << sway.skipReason();
        image = sway.home() / "image.png";
        std::ofstream(image, std::ios::binary)
            << std::string("\x89PNG\r\n\x1a\n", 8) << std::string(4096, '\x42');
        sway.hand(image);
    }

    // The previous clipboard: a text, or an image. wl-copy stays behind to serve it.
    void copy(const std::string& what) {
        const bool picture = what == "image";
        sway.run({"sh", "-c",
                  picture ? "wl-copy --type image/png < \"$0\" >/dev/null 2>&1"
                          : "wl-copy -- \"$0\" >/dev/null 2>&1",
                  picture ? image.string() : what});
    }

    void insertInto(const Receiver& receiver, const std::string& previous, int round) {
        SCOPED_TRACE(receiver.name + ", clipboard before: " + previous);
        const std::string tag = receiver.name + std::to_string(round);
        const auto out = sway.home() / (tag + ".out");
        const auto ready = sway.home() / (tag + ".ready");
        const auto stop = sway.home() / (tag + ".stop");
        std::vector<std::string> argv = receiver.argv;
        for (std::string& arg : argv) {
            if (arg == "OUT")
                arg = out.string();
            else if (arg == "READY")
                arg = ready.string();
            else if (arg == "RAW")
                arg = rawReader(out, ready);
        }
        copy(previous);
        const pid_t window = sway.start(argv, receiver.environment);
        ASSERT_TRUE(HeadlessCompositor::waitFor(ready, 20s)) << "the window did not come up";
        std::this_thread::sleep_for(300ms);

        const std::string text = "привет мир " + tag;
        const auto log = sway.home() / (tag + ".log");
        sway.start({TALVORO_PASTE_PROBE, text, stop.string()}, {}, log);
        testing::waitFor([&] { return readFile(out) == text; }, 10);
        std::this_thread::sleep_for(300ms); // time for a second paste, were there one
        EXPECT_EQ(readFile(out), text) << readFile(log);
        EXPECT_NE(readFile(log).find("restored: 1"), std::string::npos) << readFile(log);
        EXPECT_EQ(readFile(log).find("Sanitizer"), std::string::npos) << readFile(log);
        if (previous == "image") {
            EXPECT_EQ(sway.run({"wl-paste", "--type", "image/png"}).output, readFile(image));
        } else {
            EXPECT_EQ(sway.run({"wl-paste", "--no-newline"}).output, previous);
        }
        std::ofstream{stop};
        ::kill(-window, SIGTERM);
    }

    static HeadlessCompositor::Options swayOptions() {
        HeadlessCompositor::Options options;
        options.xwayland = false;
        options.swayConfig = "input * xkb_layout us,ru";
        return options;
    }
    HeadlessCompositor sway{HeadlessCompositor::Kind::Sway, swayOptions()};
    std::filesystem::path image;
};

TEST_F(WaylandInsertion, QtGtkAndFootGetTheTextOnceInEitherLayoutAndTheClipboardComesBack) {
    const std::vector<Receiver> receivers{
        {"qt",
         {TALVORO_PASTE_TARGET, "--out", "OUT", "--ready", "READY"},
         {{"QT_QPA_PLATFORM", "wayland"}}},
        {"gtk",
         {"python3", TALVORO_SOURCE_DIR "/tests/insertion/gtk_entry.py", "OUT", "READY"},
         {{"GDK_BACKEND", "wayland"}}},
        {"foot", {"foot", "python3", "-c", "RAW"}, {}},
    };
    int round = 0;
    for (const char* layout : {"0", "1"}) {
        SCOPED_TRACE(std::string("layout ") + layout);
        ASSERT_EQ(sway.swaymsg(std::string("input * xkb_switch_layout ") + layout).status, 0);
        // In the Russian round a clipboard reader takes every new text the moment it appears.
        std::optional<pid_t> watcher;
        if (std::string(layout) == "1")
            watcher = sway.start({"wl-paste", "--watch", "sh", "-c", "cat > /dev/null"});
        for (const Receiver& receiver : receivers) {
            insertInto(receiver, round % 2 ? "image" : "старый текст", round);
            ++round;
        }
    }
}

// KWin 5.27 has wlr data control but no virtual keyboard (its keys come through fake input or
// the portal), so here the receiver is a reader started at the keystroke's moment.
TEST(WaylandDataControl, UnderKWinTheReceiverPullsTheTextAndTheImageComesBack) {
    HeadlessCompositor::Options options;
    options.xwayland = false;
    HeadlessCompositor kwin(HeadlessCompositor::Kind::KWin, options);
    if (!kwin.running())
        GTEST_SKIP() << kwin.skipReason();
    const auto image = kwin.home() / "image.png";
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(70000, '\x17');
    std::ofstream(image, std::ios::binary) << png;
    kwin.hand(image);
    kwin.run({"sh", "-c", "wl-copy --type image/png < \"$0\" >/dev/null 2>&1", image.string()});
    // This process talks to the session's compositor too, as root, by the socket's full path.
    const std::string socket = (kwin.runtimeDir() / "wayland-1").string();
    ::setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
    DataControlPasteboard pasteboard;
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_STREQ(pasteboard.protocolName(), "zwlr_data_control_manager_v1");
    testing::waitFor([&] { return !pasteboard.types().empty(); }, 5);
    ASSERT_EQ(pasteboard.types(), std::vector<std::string>{"image/png"});

    std::string received;
    const Paster::Result result =
        Paster::deliver("диктовка", pasteboard, Paster::Focus{"AXTextArea", {}, false, {}}, [&] {
            received = kwin.run({"wl-paste", "--no-newline"}).output;
        });
    EXPECT_EQ(received, "диктовка");
    EXPECT_TRUE(result.takenAfterMs);
    EXPECT_TRUE(result.restored);
    EXPECT_EQ(kwin.run({"wl-paste", "--type", "image/png"}).output, png);

    const std::int64_t before = pasteboard.changeCount();
    kwin.run({"sh", "-c", "wl-copy чужое >/dev/null 2>&1"});
    testing::waitFor([&] { return pasteboard.changeCount() != before; }, 5);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pasteboard.changeCount(), before + 1) << "another client's write, counted once";
    EXPECT_EQ(pasteboard.string(), "чужое");
}

} // namespace
} // namespace talvoro
