#include "insertion/data_control_pasteboard.h"
#include "insertion/paster.h"
#include "insertion/virtual_keyboard_keystroke.h"
#include "session/wayland_globals.h"
#include "support/headless_compositor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>

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

template <class Failure> std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "no failure";
}

// Two clients of one compositor (this process, as root, by the socket's path): an owner offering an
// image among far too many types, a receiver that reads only after the promise was settled,
// another client's write, then the compositor frozen. KWin 5.27 has no virtual keyboard.
TEST(WaylandDataControl, AHostileOwnerALateReaderAndAFrozenCompositorUnderKWinAndSway) {
    using Kind = HeadlessCompositor::Kind;
    std::vector<std::string> skipped;
    for (Kind kind : {Kind::KWin, Kind::Sway}) {
        HeadlessCompositor::Options options;
        options.xwayland = false;
        HeadlessCompositor desktop(kind, options);
        if (!desktop.running()) {
            skipped.push_back(desktop.skipReason());
            continue;
        }
        SCOPED_TRACE(kind == Kind::KWin ? "KWin" : "sway");
        ::setenv("WAYLAND_DISPLAY", (desktop.runtimeDir() / "wayland-1").c_str(), 1);
        DataControlPasteboard ours, theirs;
        auto keystroke = kind == Kind::Sway ? makeVirtualKeyboardKeystroke() : nullptr;
        ::unsetenv("WAYLAND_DISPLAY");

        const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(70000, '\x17');
        PasteboardItem many{{"image/png", png}}; // then 1500 types, each offered twice
        for (int i = 0; i < 3000; ++i)
            many.emplace_back("application/x-t" + std::to_string(i % 1500), "x");
        theirs.writeItems({many});
        ASSERT_TRUE(testing::waitFor([&] { return !ours.types().empty(); }, 5));
        EXPECT_EQ(ours.types().size(), DataControlPasteboard::maxTypes);
        EXPECT_EQ(ours.types().back(), "application/x-t1022");

        const double eager = Paster::eagerAfter.exchange(0.0625);
        const double deadline = Paster::pullDeadline.exchange(10);
        std::future<std::optional<std::string>> late;
        const auto result = Paster::deliver("поздно", ours, {"AXTextArea", {}, false, {}}, [&] {
            late = std::async(std::launch::async, [&, written = ours.changeCount()] {
                testing::waitFor([&] { return ours.changeCount() != written; }, 10); // settled
                return theirs.string();
            });
        });
        Paster::eagerAfter = eager;
        Paster::pullDeadline = deadline;
        EXPECT_EQ(late.get(), "поздно");
        EXPECT_TRUE(result.takenAfterMs) << "read late, still seen: " << result.takenNote();
        EXPECT_EQ(theirs.data(0, "image/png", 1u << 20), png) << "given back";

        const std::int64_t before = ours.changeCount();
        theirs.setString("чужое");
        testing::waitFor([&] { return ours.changeCount() != before; }, 5);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(ours.changeCount(), before + 1) << "another client's write, counted once";
        EXPECT_EQ(ours.string(), "чужое");

        const double within = wayland::answerWithin.exchange(0.25);
        std::promise<void> over; // a watchdog thaws it should a call hang
        std::thread thaw([&, done = over.get_future()] {
            done.wait_for(60s);
            ::kill(desktop.pid(), SIGCONT);
        });
        ::kill(desktop.pid(), SIGSTOP);
        EXPECT_EQ(failureOf<PasteboardUnavailable>([&] { ours.changeCount(); }),
                  "композитор Wayland не ответил вовремя — буфер обмена недоступен");
        if (keystroke) {
            EXPECT_EQ(
                failureOf<Paster::Failure>([&] { keystroke->press(PasteShortcut::controlV); }),
                "композитор Wayland не ответил вовремя — Ctrl+V не нажат");
        }
        ::setenv("WAYLAND_DISPLAY", (desktop.runtimeDir() / "wayland-1").c_str(), 1);
        EXPECT_EQ(readWaylandGlobals(), std::nullopt) << "the session probe gave up too";
        ::unsetenv("WAYLAND_DISPLAY");
        over.set_value();
        thaw.join();
        wayland::answerWithin = within;
    }
    if (skipped.size() == 2)
        GTEST_SKIP() << skipped[0] << "; " << skipped[1];
}

} // namespace
} // namespace talvoro
