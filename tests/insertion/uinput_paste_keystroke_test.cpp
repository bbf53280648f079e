#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <thread>
#include <unistd.h>

#include "base/held_hotkey.h"
#include "insertion/uinput_paste_keystroke.h"
#include "support/run_program.h"

namespace talvoro {
namespace {

// This machine has no /dev/uinput: the stream the device would get is read from a pipe. A
// key-up from our own device cannot lift the user's Alt, so the chord waits until the hotkey is
// up; a release that never comes is forgotten after one wait.
TEST(UinputPasteKeystroke, WritesEachKeyChangeWithItsReportOnceTheHotkeyIsUp) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);
    HeldHotkey& hotkey = HeldHotkey::shared();
    input_event event;
    {
        UinputPasteKeystroke keystroke(ends[1]);
        hotkey.pressed();
        std::thread paste([&] {
            keystroke.waitForKeysReleased();
            keystroke.press(PasteShortcut::controlV);
            keystroke.press(PasteShortcut::shiftInsert);
        });
        EXPECT_TRUE(testing::waitFor(
            [&] { return hotkey.waiting() == 1 || ::read(ends[0], &event, sizeof event) > 0; },
            10));
        EXPECT_EQ(hotkey.waiting(), 1) << "nothing pressed while the hotkey is down";
        hotkey.released();
        paste.join();
    }
    hotkey.pressed();
    hotkey.waitForRelease(std::chrono::milliseconds(0));
    EXPECT_FALSE(hotkey.held());
    std::vector<std::array<int, 3>> stream;
    while (::read(ends[0], &event, sizeof event) == sizeof event)
        stream.push_back({event.type, event.code, event.value});
    ::close(ends[0]);
    std::vector<std::array<int, 3>> expected;
    for (auto [code, value] : std::vector<std::pair<int, int>>{{KEY_LEFTCTRL, 1},
                                                               {KEY_V, 1},
                                                               {KEY_V, 0},
                                                               {KEY_LEFTCTRL, 0},
                                                               {KEY_LEFTSHIFT, 1},
                                                               {KEY_INSERT, 1},
                                                               {KEY_INSERT, 0},
                                                               {KEY_LEFTSHIFT, 0}}) {
        expected.push_back({EV_KEY, code, value});
        expected.push_back({EV_SYN, SYN_REPORT, 0});
    }
    EXPECT_EQ(stream, expected);
}

} // namespace
} // namespace talvoro
