#include <gtest/gtest.h>

#include <linux/input.h>
#include <unistd.h>

#include "insertion/paster_failure.h"
#include "insertion/uinput_paste_keystroke.h"

namespace talvoro {
namespace {

// This machine has no /dev/uinput: the stream the device would get is read from a pipe.
TEST(UinputPasteKeystroke, WritesEachKeyChangeWithItsReport) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    {
        UinputPasteKeystroke keystroke(ends[1]);
        keystroke.press(PasteShortcut::controlV);
        keystroke.press(PasteShortcut::shiftInsert);
    }
    std::vector<std::array<int, 3>> stream;
    input_event event;
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

TEST(UinputPasteKeystroke, MissingDeviceNodeIsNamed) {
    try {
        makeUinputPasteKeystroke("/nonexistent/uinput");
        FAIL() << "no device node, no keyboard";
    } catch (const Paster::Failure& failure) {
        EXPECT_STREQ(failure.what(), "нет /nonexistent/uinput (модуль ядра uinput не загружен) — "
                                     "виртуальная клавиатура не создаётся");
    }
}

} // namespace
} // namespace talvoro
