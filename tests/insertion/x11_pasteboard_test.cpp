#include "insertion/x11_pasteboard.h"

#include "insertion/paster.h"
#include "insertion/x11_pasteboard_peer.h"
#include "support/run_program.h"
#include "support/xvfb_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace talvoro {
namespace {

using namespace std::chrono_literals;
using testing::PeerOptions;
using testing::SelectionPeer;

constexpr const char* selectionName = "ostrel.pastetest";

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xff);
    return bytes;
}

class X11PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running())
            GTEST_SKIP() << "Xvfb is not installed";
        pasteboard = std::make_unique<X11Pasteboard>(selectionName);
    }
    testing::XvfbServer xvfb;
    std::unique_ptr<X11Pasteboard> pasteboard;
};

TEST_F(X11PasteboardTest, EveryReaderRequestForPromisedTextIsAPull) {
    std::atomic<int> pulls{0};
    pasteboard->writePromisedText([&](bool) {
        ++pulls;
        return std::string("привет, мир");
    });
    EXPECT_EQ(pulls, 0);

    auto targets = SelectionPeer::targets(selectionName);
    for (const char* expected : {"UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT",
                                 "x-kde-passwordManagerHint", "TARGETS"})
        EXPECT_NE(std::find(targets.begin(), targets.end(), expected), targets.end()) << expected;
    EXPECT_EQ(SelectionPeer::read(selectionName, "x-kde-passwordManagerHint"), "secret");
    EXPECT_EQ(pulls, 0) << "neither TARGETS nor the hint produce the text";

    EXPECT_EQ(SelectionPeer::read(selectionName, "UTF8_STRING"), "привет, мир");
    EXPECT_EQ(SelectionPeer::read(selectionName, "text/plain;charset=utf-8"), "привет, мир");
    EXPECT_EQ(pulls, 2);
    // Cyrillic has no ISO 8859-1 form: STRING is refused rather than served as garbage.
    EXPECT_EQ(SelectionPeer::read(selectionName, "STRING"), std::nullopt);
    EXPECT_EQ(SelectionPeer::read(selectionName, "image/png"), std::nullopt);

    // Reading our own selection answers locally, and counts as a pull like any reader.
    const int before = pulls;
    EXPECT_EQ(pasteboard->string(), "привет, мир");
    EXPECT_EQ(pulls, before + 1);

    // Plain text of ours stays out of clipboard histories too.
    pasteboard->setString("прямо");
    EXPECT_EQ(SelectionPeer::read(selectionName, "x-kde-passwordManagerHint"), "secret");
    EXPECT_FALSE(pasteboard->settlePromisedText("x")) << "no promise is held any more";
}

TEST_F(X11PasteboardTest, ReadsEveryTargetOfThePreviousOwnerAndPutsThemBack) {
    SelectionPeer previous(selectionName);
    const std::string png = pattern(70000);
    testing::Targets offered{
        {"UTF8_STRING", "прежний текст"}, {"image/png", png}, {"SAVE_TARGETS", ""}, {"DELETE", ""}};
    for (int i = 0; i < 200; ++i)
        offered.emplace_back("application/x-talvoro-" + std::to_string(i), std::to_string(i * i));
    previous.own(offered);

    std::vector<std::string> types = pasteboard->types();
    ASSERT_EQ(types.size(), 202u);
    EXPECT_EQ(types[1], "image/png");
    EXPECT_EQ(types[201], "application/x-talvoro-199");
    EXPECT_EQ(pasteboard->data(0, types[152], 1024), "22500");
    EXPECT_EQ(pasteboard->itemCount(), 1);
    EXPECT_EQ(pasteboard->string(), "прежний текст");
    auto image = pasteboard->data(0, "image/png", 20u << 20);
    ASSERT_TRUE(image);
    EXPECT_EQ(*image, png);
    EXPECT_EQ(previous.requests("DELETE"), 0) << "a side-effect target is never converted";

    pasteboard->writeItems({{{"UTF8_STRING", "прежний текст"}, {"image/png", png}}});
    EXPECT_EQ(SelectionPeer::read(selectionName, "image/png"), png);
    EXPECT_EQ(SelectionPeer::read(selectionName, "UTF8_STRING"), "прежний текст");
    auto targets = SelectionPeer::targets(selectionName);
    EXPECT_NE(std::find(targets.begin(), targets.end(), "image/png"), targets.end());
}

TEST_F(X11PasteboardTest, IncrementalTransfersBothWays) {
    // Ours out: above the server's largest request, so it must go in pieces.
    const std::string big = pattern(20u << 20);
    pasteboard->writeItems({{{"image/png", big}}});
    EXPECT_EQ(SelectionPeer::read(selectionName, "image/png", 20s), big);

    // Theirs in: an owner that sends INCR in small pieces.
    SelectionPeer previous(selectionName, PeerOptions{.incrPiece = 65536});
    const std::string medium = pattern(3u << 20);
    previous.own({{"image/png", medium}, {"UTF8_STRING", "текст"}});
    EXPECT_EQ(pasteboard->data(0, "image/png", 20u << 20), medium);
    EXPECT_EQ(pasteboard->string(), "текст");
}

TEST_F(X11PasteboardTest, HugeImageStopsEarlyAtTheLimit) {
    SelectionPeer previous(selectionName, PeerOptions{.incrPiece = 1u << 20});
    const std::size_t limit = 20u << 20;
    const std::size_t huge = 50u * 1000 * 1000;
    previous.own({{"image/png", pattern(huge)}});

    auto image = pasteboard->data(0, "image/png", limit);
    // A starved machine may run out of the owner's time first; then nothing comes back at all.
    if (image) {
        EXPECT_GT(image->size(), limit);
        EXPECT_LT(image->size(), huge);
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(previous.bytesSentInPieces(), limit + (4u << 20)) << "the transfer was cut off";
}

TEST_F(X11PasteboardTest, SilentOwnerCostsOneWaitThenNothing) {
    SelectionPeer silent(selectionName, PeerOptions{.silentButTargets = true});
    silent.own({{"UTF8_STRING", "x"}, {"image/png", "y"}, {"text/html", "z"}});

    ASSERT_EQ(pasteboard->types().size(), 3u);
    for (const char* type : {"UTF8_STRING", "image/png", "text/html"})
        EXPECT_EQ(pasteboard->data(0, type, 1024), std::nullopt);
    EXPECT_EQ(pasteboard->string(), std::nullopt);
    // One silent request, then the owner is given up on.
    EXPECT_EQ(silent.requests("UTF8_STRING"), 1);
    EXPECT_EQ(silent.requests("image/png"), 0);
    EXPECT_EQ(silent.requests("text/html"), 0);

    // A new owner gets a fresh chance.
    SelectionPeer next(selectionName);
    next.own({{"UTF8_STRING", "ответ"}});
    EXPECT_EQ(pasteboard->string(), "ответ");

    // One that does not even list its targets costs that one request.
    SelectionPeer dead(selectionName, PeerOptions{.silent = true});
    dead.own({{"UTF8_STRING", "x"}});
    EXPECT_TRUE(pasteboard->types().empty());
    EXPECT_EQ(pasteboard->data(0, "UTF8_STRING", 100), std::nullopt);
    EXPECT_EQ(dead.requests("TARGETS"), 1);
    EXPECT_EQ(dead.requests("UTF8_STRING"), 0);
}

// A clipboard manager that reads every new owner at once and then takes the selection over.
TEST_F(X11PasteboardTest, AClipboardManagerThatTakesTheSelectionOverServesTheText) {
    SelectionPeer manager(selectionName,
                          PeerOptions{.pullNewOwners = true, .reownAfterPull = true});
    const auto before = pasteboard->changeCount();
    pasteboard->writePromisedText([](bool) { return std::string("диктовка"); });
    ASSERT_TRUE(testing::waitFor([&] { return pasteboard->changeCount() >= before + 2; }, 5));
    EXPECT_EQ(pasteboard->string(), "диктовка") << "now served by the manager";
}

// GNOME: Wayland windows paste from us through mutter, which copies every new clipboard text
// at once (never the primary selection's) and stamps each read it relays with the time the
// selection changed hands, before the keystroke.
TEST_F(X11PasteboardTest, TheMutterBridgeCountsByArrivalAndItsOwnCopyOfAClipboardNever) {
    for (const std::string name : {"CLIPBOARD", "PRIMARY"}) {
        std::mutex lock;
        std::vector<bool> pulls; // guarded by lock: afterKeystroke of each
        testing::MutterBridge bridge(name);
        X11Pasteboard board(name);
        for (int round = 0; round < 2; ++round) {
            board.writePromisedText([&](bool afterKeystroke) {
                std::lock_guard guard(lock);
                pulls.push_back(afterKeystroke);
                return std::string("диктовка");
            });
            board.markKeystroke();
            if (name == "CLIPBOARD") {
                EXPECT_FALSE(board.relayed()) << "the keystroke waits for the bridge's copy";
                EXPECT_EQ(bridge.relay("UTF8_STRING"), "диктовка") << "its own copy, come late";
            }
            EXPECT_TRUE(board.relayed());
            EXPECT_EQ(bridge.relay("UTF8_STRING"), "диктовка") << "the window's paste";
        }
        std::lock_guard guard(lock);
        EXPECT_EQ(pulls, (name == "CLIPBOARD" ? std::vector<bool>{false, true, false, true}
                                              : std::vector<bool>{true, true}));
    }
}

TEST_F(X11PasteboardTest, ClipboardManagerKeepsWhatWeHeldWhenWeGo) {
    SelectionPeer manager("CLIPBOARD", PeerOptions{.savesClipboard = true});
    const std::string png = pattern(300000);
    {
        X11Pasteboard user("CLIPBOARD");
        {
            X11Pasteboard dictation("CLIPBOARD");
            dictation.writePromisedText([](bool) { return std::string("диктовка"); });
        }
        EXPECT_EQ(SelectionPeer::read("CLIPBOARD", "UTF8_STRING", 300ms), std::nullopt)
            << "promised dictated text is not handed over";
        user.writeItems({{{"UTF8_STRING", "прежнее"}, {"image/png", png}}});
    }
    EXPECT_EQ(SelectionPeer::read("CLIPBOARD", "UTF8_STRING"), "прежнее");
    EXPECT_EQ(SelectionPeer::read("CLIPBOARD", "image/png"), png);
}

} // namespace
} // namespace talvoro
