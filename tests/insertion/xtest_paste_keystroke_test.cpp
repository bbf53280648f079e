#include "insertion/xtest_paste_keystroke.h"

#include "support/xvfb_server.h"

// xkb.h names a struct member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <thread>
#include <vector>

namespace talvoro {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr xcb_keysym_t keysymV = 0x0076;
constexpr xcb_keysym_t keysymCyrillicEm = 0x06cd;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymShiftL = 0xffe1;
constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymInsert = 0xff63;

struct Key {
    bool down;
    xcb_keysym_t keysym; // of the key's first group, first level
    xcb_keycode_t code;
    std::uint16_t state;
};

// A focused window of the test's own that records the keys it gets.
class KeyWindow {
public:
    KeyWindow() : c(x11::Connection::open()) {
        window = xcb_generate_id(c->get());
        const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
        xcb_create_window(c->get(), XCB_COPY_FROM_PARENT, window, c->root(), 0, 0, 200, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        xcb_map_window(c->get(), window);
        c->sync();
        xcb_set_input_focus(c->get(), XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
        c->sync();
    }
    ~KeyWindow() { xcb_key_symbols_free(symbols); }

    std::vector<Key> keys(std::size_t count, std::chrono::milliseconds within = 2s) {
        std::vector<Key> got;
        symbols = symbols ? symbols : xcb_key_symbols_alloc(c->get());
        const auto deadline = Clock::now() + within;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd fd{xcb_get_file_descriptor(c->get()), POLLIN, 0};
            ::poll(&fd, 1, 20);
            while (x11::Event e{xcb_poll_for_event(c->get())}) {
                const int type = e->response_type & 0x7f;
                if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
                    continue;
                auto& key = reinterpret_cast<xcb_key_press_event_t&>(*e);
                got.push_back({type == XCB_KEY_PRESS,
                               xcb_key_symbols_get_keysym(symbols, key.detail, 0), key.detail,
                               key.state});
            }
        }
        return got;
    }

    std::unique_ptr<x11::Connection> c;
    xcb_window_t window;
    xcb_key_symbols_t* symbols = nullptr;
};

class XTestPasteKeystrokeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running())
            GTEST_SKIP() << "Xvfb is not installed";
    }
    testing::XvfbServer xvfb;
};

TEST_F(XTestPasteKeystrokeTest, EachShortcutReachesTheFocusedWindow) {
    KeyWindow target;
    XTestPasteKeystroke keystroke;
    ASSERT_TRUE(keystroke.available());
    keystroke.press(PasteShortcut::controlV);
    keystroke.press(PasteShortcut::shiftInsert);
    auto keys = target.keys(8);
    ASSERT_EQ(keys.size(), 8u);
    EXPECT_TRUE(keys[0].down && keys[0].keysym == keysymControlL);
    EXPECT_TRUE(keys[1].down && keys[1].keysym == keysymV);
    EXPECT_EQ(keys[1].state & (XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT), XCB_MOD_MASK_CONTROL);
    EXPECT_TRUE(!keys[2].down && keys[2].keysym == keysymV);
    EXPECT_TRUE(!keys[3].down && keys[3].keysym == keysymControlL);
    EXPECT_TRUE(keys[4].down && keys[4].keysym == keysymShiftL);
    EXPECT_TRUE(keys[5].down && keys[5].keysym == keysymInsert);
    EXPECT_EQ(keys[5].state & (XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT), XCB_MOD_MASK_SHIFT);
    EXPECT_TRUE(!keys[7].down && keys[7].keysym == keysymShiftL);
    EXPECT_TRUE(target.keys(1, 100ms).empty()) << "nothing else was pressed";
}

TEST_F(XTestPasteKeystrokeTest, SameKeyWhileTheSecondLayoutGroupIsActive) {
    if (::access("/usr/bin/setxkbmap", X_OK) != 0)
        GTEST_SKIP() << "setxkbmap is not installed";
    ASSERT_EQ(std::system("setxkbmap -layout us,ru"), 0);
    KeyWindow target;
    xcb_connection_t* c = target.c->get();
    x11::Reply<xcb_xkb_use_extension_reply_t>(
        xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, XCB_XKB_GROUP_2, 0, 0, 0);
    auto group = [&] {
        x11::Reply<xcb_xkb_get_state_reply_t> state(
            xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        return state ? state->group : -1;
    };
    ASSERT_EQ(group(), 1);

    XTestPasteKeystroke().press(PasteShortcut::controlV);
    auto keys = target.keys(4);
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[1].keysym, keysymV);
    EXPECT_EQ(xcb_key_symbols_get_keysym(target.symbols, keys[1].code, 2), keysymCyrillicEm)
        << "the Russian group is really there on that key";
    EXPECT_EQ(group(), 1) << "the active group is left alone";
}

TEST_F(XTestPasteKeystrokeTest, WaitsForHeldModifiersToBeReleased) {
    KeyWindow target;
    auto user = x11::Connection::open();
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(user->get());
    x11::Reply<xcb_keycode_t> alt(xcb_key_symbols_get_keycode(symbols, keysymAltL));
    xcb_key_symbols_free(symbols);
    ASSERT_TRUE(alt && alt.get()[0] != XCB_NO_SYMBOL);
    const xcb_keycode_t altCode = alt.get()[0];
    xcb_test_fake_input(user->get(), XCB_KEY_PRESS, altCode, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0,
                        0, 0);
    user->sync();
    std::thread release([&] {
        std::this_thread::sleep_for(300ms);
        xcb_test_fake_input(user->get(), XCB_KEY_RELEASE, altCode, XCB_CURRENT_TIME,
                            XCB_WINDOW_NONE, 0, 0, 0);
        user->sync();
    });
    XTestPasteKeystroke keystroke;
    keystroke.waitForModifiersReleased();
    keystroke.press(PasteShortcut::controlV);
    release.join();
    auto keys = target.keys(6);
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_TRUE(keys[1].keysym == keysymAltL && !keys[1].down) << "Alt went up before Control";
    EXPECT_EQ(keys[3].state & XCB_MOD_MASK_1, 0);
}

} // namespace
} // namespace talvoro
