#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "hotkey/hotkey_tap.h"
#include "hotkey/phase_recorder.h"
#include "hotkey/x11_key_client.h"
#include "support/xvfb_server.h"

using namespace talvoro;
using namespace talvoro::testing;
using Phase = HotkeyTap::Phase;

namespace {

const std::vector<Phase> downUp{Phase::down, Phase::up};

class X11Tap : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running())
            GTEST_SKIP() << "Xvfb is not installed";
        window = std::make_unique<KeyRecordingWindow>();
        typist = std::make_unique<Typist>();
        spaceKey = typist->keycode(keysym::space);
        escKey = typist->keycode(keysym::escape);
    }
    // Types x and waits until the window has it: everything typed before has been delivered.
    void settle() {
        const xcb_keycode_t x = typist->keycode(keysym::x);
        const int before = window->count(x, true);
        typist->tap(keysym::x);
        ASSERT_TRUE(window->awaitPress(x, before));
    }
    void altSpace() {
        typist->press(keysym::altL);
        typist->tap(keysym::space);
        typist->release(keysym::altL);
    }

    XvfbServer xvfb;
    std::unique_ptr<KeyRecordingWindow> window;
    std::unique_ptr<Typist> typist;
    xcb_keycode_t spaceKey = 0, escKey = 0;
    PhaseRecorder log;
};

} // namespace

TEST_F(X11Tap, TakesTheBindingWhateverTheLocksAndLeavesEveryOtherKey) {
    HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, log.handler());
    tap.start();
    altSpace();
    typist->tap(keysym::a);
    settle();
    EXPECT_EQ(log.await(2), downUp);
    EXPECT_EQ(window->count(spaceKey, true) + window->count(spaceKey, false), 0);
    const xcb_keycode_t a = typist->keycode(keysym::a), alt = typist->keycode(keysym::altL);
    EXPECT_EQ(window->count(a, true), 1);
    EXPECT_EQ(window->count(a, false), 1);
    EXPECT_EQ(window->count(alt, true), 1);
    EXPECT_EQ(window->count(alt, false), 1);
    EXPECT_EQ(tap.counters().matched, 1);
    EXPECT_EQ(tap.counters().seen, 4); // Alt, Space, A, X

    // With Shift as well it is another combination, and the window gets it.
    typist->press(keysym::shiftL);
    altSpace();
    typist->release(keysym::shiftL);
    settle();
    EXPECT_EQ(window->count(spaceKey, true), 1);
    EXPECT_EQ(window->count(spaceKey, false), 1);
    EXPECT_EQ(log.now().size(), 2u);

    // Lit Caps Lock and Num Lock do not hide the binding.
    typist->tap(keysym::capsLock);
    typist->tap(keysym::numLock);
    altSpace();
    settle();
    EXPECT_EQ(log.await(4).size(), 4u);
    EXPECT_EQ(window->count(spaceKey, true), 1);
}

TEST_F(X11Tap, EscapeIsTakenOnlyWhenThePredicateSaysSo) {
    std::atomic<bool> wanted = false;
    HotkeyTap tap(
        HotkeyBinding(53, 0), [&] { return wanted.load(); }, log.handler());
    tap.start();
    typist->tap(keysym::escape);
    settle();
    EXPECT_EQ(window->count(escKey, true), 1);
    EXPECT_EQ(window->count(escKey, false), 1);
    EXPECT_TRUE(log.now().empty());

    wanted = true;
    typist->tap(keysym::escape);
    settle();
    EXPECT_EQ(log.await(2), downUp);
    EXPECT_EQ(window->count(escKey, true), 1);
    EXPECT_EQ(window->count(escKey, false), 1);
}

TEST_F(X11Tap, HeldKeyRepeatsAreNotNewPressesAndABlockedHandlerFreezesNothing) {
    std::mutex gate;
    std::unique_lock closed(gate);
    HotkeyTap tap(HotkeyBinding::defaultBinding(), {},
                  [&, inner = log.handler()](Phase phase, double delay) {
                      std::lock_guard wait(gate);
                      inner(phase, delay);
                  });
    tap.start();
    typist->press(keysym::altL);
    typist->press(keysym::space);
    std::this_thread::sleep_for(std::chrono::milliseconds(900)); // past the repeat delay
    typist->release(keysym::space);
    typist->release(keysym::altL);
    typist->tap(keysym::a);
    settle(); // the window still gets keys while the handler hangs
    EXPECT_EQ(window->count(typist->keycode(keysym::a), true), 1);
    EXPECT_EQ(window->count(spaceKey, true), 0);
    EXPECT_EQ(tap.counters().matched, 1);
    closed.unlock();
    EXPECT_EQ(log.await(2), downUp);
}

TEST_F(X11Tap, ACombinationHeldByAnotherProgramIsAConflict) {
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    // Only the Caps Lock variant: the error must still come, and nothing stay half-grabbed.
    std::unique_ptr<xcb_generic_error_t, XFree> refused(xcb_request_check(
        other, xcb_grab_key_checked(other, 0, root, XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK, spaceKey,
                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    ASSERT_FALSE(refused);

    HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, log.handler());
    try {
        tap.start();
        FAIL() << "start succeeded";
    } catch (const HotkeyTap::Failure& failure) {
        EXPECT_EQ(failure.kind(), HotkeyTap::Failure::Kind::conflict);
        EXPECT_STREQ(failure.what(), "сочетание Alt+Space уже занято другой программой — задай "
                                     "другое в DICTATION_HOTKEY");
    }
    altSpace();
    settle();
    EXPECT_EQ(window->count(spaceKey, true), 1);
    EXPECT_TRUE(log.now().empty());

    xcb_disconnect(other);
    tap.start();
    altSpace();
    settle();
    EXPECT_EQ(log.await(2), downUp);
}

TEST_F(X11Tap, KeyboardMappingChangesAreFollowed) {
    HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, log.handler());
    tap.start();
    // Put Space on a spare keycode as well; the tap regrabs and takes it there too.
    xcb_connection_t* c = typist->connection();
    const xcb_keycode_t spare = 250;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, XFree> mapping(
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, spare, 1), nullptr));
    ASSERT_TRUE(mapping);
    std::vector<xcb_keysym_t> syms(mapping->keysyms_per_keycode, keysym::space);
    xcb_change_keyboard_mapping(c, 1, spare, mapping->keysyms_per_keycode, syms.data());
    typist->sync();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    typist->press(keysym::altL);
    typist->fake(XCB_KEY_PRESS, spare);
    typist->fake(XCB_KEY_RELEASE, spare);
    typist->release(keysym::altL);
    settle();
    EXPECT_EQ(log.await(2), downUp);
    EXPECT_EQ(window->count(spare, true), 0);
}
