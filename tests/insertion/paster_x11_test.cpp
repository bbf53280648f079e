#include "insertion/paster.h"
#include "insertion/scripted_insertion_seams.h"
#include "insertion/x11_connection.h"
#include "paster_x11_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

#include <gtest/gtest.h>

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>

namespace talvoro {
namespace {

using namespace talvoro::testing;

std::string clipboardText() {
    return runProgram("timeout 5 xclip -selection clipboard -o 2>/dev/null").output;
}

// Real CLIPBOARD and XTest; the focus is given, since this test runs without an AT-SPI bus.
struct X11Rig {
    InsertionSeams seams;
    std::shared_ptr<ScriptedFocusSource> focus = std::make_shared<ScriptedFocusSource>();

    X11Rig() {
        seams.pasteboard = makeSystemPasteboard();
        seams.primary = makeSystemPasteboard("PRIMARY");
        seams.keystroke = makeSystemPasteKeystroke();
        seams.frontmost = makeSystemFrontmostAppSource();
        seams.focus = focus;
        focus->answers = {Paster::Focus{"AXTextField", "entry", false, {}}};
    }
};

class PasterX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running())
            GTEST_SKIP() << "Xvfb is not installed";
        if (!haveProgram("/usr/bin/xclip"))
            GTEST_SKIP() << "xclip is not installed";
    }

    // Puts text on the clipboard the way another program would, and waits until it reads back.
    void ownClipboardWithXclip(const std::string& text) {
        TempDir dir;
        std::string file = dir.write("clip", text);
        runProgram("xclip -selection clipboard -i " + file + " >/dev/null 2>&1");
        ASSERT_TRUE(waitFor([&] { return clipboardText() == text; }, 5));
    }

    void pasteIntoField(const std::string& layout) {
        if (!layout.empty()) {
            if (!haveProgram("/usr/bin/setxkbmap"))
                GTEST_SKIP() << "setxkbmap is not installed";
            ASSERT_EQ(runProgram("setxkbmap -layout " + layout + " 2>&1").status, 0);
        }
        TempDir dir;
        PasteTarget target(dir.path(), "field");
        ASSERT_TRUE(target.waitUntilActive()) << "the Qt window never became active";
        ownClipboardWithXclip("прежний текст из xclip");

        X11Rig rig;
        Paster::Result result = Paster::paste("привет, мир", rig.seams);
        EXPECT_TRUE(waitFor([&] { return target.typed() == "привет, мир"; }, 5))
            << "the field holds «" << target.typed() << "»";
        EXPECT_TRUE(result.outcome.isPasted());
        EXPECT_TRUE(result.takenAfterMs) << result.takenNote();
        EXPECT_FALSE(result.servedEagerly);
        EXPECT_TRUE(result.restored);
        EXPECT_NE(
            std::find(result.previousTypes.begin(), result.previousTypes.end(), "UTF8_STRING"),
            result.previousTypes.end());
        EXPECT_EQ(clipboardText(), "прежний текст из xclip");
    }

    XvfbServer xvfb;
};

TEST_F(PasterX11, TheFocusedFieldGetsTheTextAndTheClipboardComesBack) {
    pasteIntoField("");
}

TEST_F(PasterX11, ARussianLayoutGroupDoesNotChangeTheShortcut) {
    pasteIntoField("ru,us");
}

TEST_F(PasterX11, ABlockedFocusLeavesTheTextForCtrlV) {
    X11Rig rig;
    rig.focus->answers = {Paster::Focus{"AXButton", "push button", false, {}}};
    Paster::Result result = Paster::paste("вставь руками", rig.seams);
    EXPECT_EQ(result.outcome, Paster::Outcome::nowhere());
    EXPECT_EQ(clipboardText(), "вставь руками");
}

// A hotkey's modifier still held when the text is ready: the keystroke waits for it, and that
// wait must not use up the time the field has to take the text.
TEST_F(PasterX11, AModifierHeldAtFirstDoesNotCostTheFieldItsText) {
    TempDir dir;
    PasteTarget target(dir.path(), "field");
    ASSERT_TRUE(target.waitUntilActive());
    ownClipboardWithXclip("до вставки");
    auto user = x11::Connection::open();
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(user->get());
    x11::Reply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, 0xffe9)); // Alt_L
    xcb_key_symbols_free(symbols);
    ASSERT_TRUE(codes);
    const xcb_keycode_t alt = codes.get()[0];
    xcb_test_fake_input(user->get(), XCB_KEY_PRESS, alt, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                        0);
    user->sync();
    std::thread letGo([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        xcb_test_fake_input(user->get(), XCB_KEY_RELEASE, alt, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0,
                            0, 0);
        user->sync();
    });
    X11Rig rig;
    Paster::Result result = Paster::paste("после клавиши", rig.seams);
    letGo.join();
    EXPECT_TRUE(waitFor([&] { return target.typed() == "после клавиши"; }, 5)) << target.typed();
    EXPECT_TRUE(result.takenAfterMs) << result.takenNote();
    EXPECT_EQ(clipboardText(), "до вставки");
}

TEST_F(PasterX11, PastetestPassesThroughTheProgram) {
    ProgramResult paste = runProgram(talvoroExecutable() + " pastetest 2>&1");
    EXPECT_EQ(paste.status, 0) << paste.output;
    EXPECT_NE(paste.output.find("возврат буфера ждёт забора ("), std::string::npos) << paste.output;
}

} // namespace
} // namespace talvoro
