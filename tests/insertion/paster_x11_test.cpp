#include "insertion/paster.h"
#include "insertion/scripted_insertion_seams.h"
#include "paster_x11_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

#include <gtest/gtest.h>

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

// The program ends right after the insertion; the clipboard's old contents must outlive it.
TEST_F(PasterX11, ThePasteCommandGivesTheClipboardBackAfterItEnds) {
    TempDir dir;
    PasteTarget target(dir.path(), "field");
    ASSERT_TRUE(target.waitUntilActive());
    ownClipboardWithXclip("до команды");
    ProgramResult run = runProgram("DBUS_SESSION_BUS_ADDRESS=disabled: " + talvoroExecutable() +
                                   " paste 'привет, мир' --delay 0 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("вставлено в paste target, слов: 2"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("буфер восстановлен: да, совпадает"), std::string::npos);
    EXPECT_TRUE(waitFor([&] { return target.typed() == "привет, мир"; }, 5)) << target.typed();
    EXPECT_EQ(clipboardText(), "до команды");
}

TEST_F(PasterX11, SelfChecksPassThroughTheProgram) {
    ProgramResult focus = runProgram(talvoroExecutable() + " focustest 2>&1");
    EXPECT_EQ(focus.status, 0) << focus.output;
    EXPECT_NE(focus.output.find("таблица фокуса сходится ("), std::string::npos);

    ProgramResult paste = runProgram(talvoroExecutable() + " pastetest 2>&1");
    EXPECT_EQ(paste.status, 0) << paste.output;
    EXPECT_NE(paste.output.find("возврат буфера ждёт забора ("), std::string::npos) << paste.output;
}

TEST(PasterWithoutDisplay, PastetestFailsWithAClearMessage) {
    ProgramResult run = runProgram("env -u DISPLAY " + talvoroExecutable() + " pastetest 2>&1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("X-сервер"), std::string::npos) << run.output;
}

} // namespace
} // namespace talvoro
