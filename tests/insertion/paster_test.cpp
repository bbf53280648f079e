#include "insertion/in_memory_pasteboard.h"
#include "insertion/pasteboard_receiver.h"
#include "insertion/paster.h"
#include "insertion/scripted_insertion_seams.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace talvoro {
namespace {

using Paster::Focus;
using testing::FixedFrontmostApp;
using testing::RecordedKeystroke;
using testing::ScriptedFocusSource;

const Focus textArea{"AXTextArea", {}, false, {}};

double since(double start) {
    return Paster::clockSeconds() - start;
}

// Puts a tunable back when the test ends.
template <typename T> class Tuned {
public:
    Tuned(std::atomic<T>& value, T temporary) : value(value), saved(value.load()) {
        value = temporary;
    }
    ~Tuned() { value = saved; }

private:
    std::atomic<T>& value;
    T saved;
};

struct Delivery {
    Paster::Result result;
    std::optional<std::string> received;
    double seconds = 0;
};

// Inserts `text` with a receiver that reads `readAfter` s after the keystroke (never when absent).
Delivery deliverWithReceiver(InMemoryPasteboard& pasteboard, const std::string& text,
                             std::optional<double> readAfter) {
    PasteboardReceiver receiver(pasteboard, readAfter.value_or(0));
    Delivery delivery;
    double start = Paster::clockSeconds();
    delivery.result = Paster::deliver(text, pasteboard, textArea, [&] {
        if (readAfter)
            receiver.start();
    });
    delivery.seconds = since(start);
    if (readAfter)
        delivery.received = receiver.received();
    return delivery;
}

TEST(PasterVerdict, OnlyTheFourBlockedRolesRefuseText) {
    for (const char* role : {"AXWindow", "AXApplication", "AXButton", "AXGroup"})
        EXPECT_TRUE(Paster::insertionBlocked(Focus{role, "AXStandardWindow", false, {}})) << role;
    for (const char* role :
         {"AXTextField", "AXTextArea", "AXSearchField", "AXComboBox", "AXWebArea", "AXScrollArea",
          "AXCell", "AXUnknown", "AXНечто", "axbutton", "AXButton "})
        EXPECT_FALSE(Paster::insertionBlocked(Focus{role, {}, false, {}})) << role;
    EXPECT_FALSE(Paster::insertionBlocked(Focus::missingBecause("err -25212")));
    EXPECT_FALSE(Paster::insertionBlocked(Focus{{}, "AXButton", false, {}}))
        << "only the role is compared";
}

TEST(PasterNotes, FocusAndTakenNotesReadAsShown) {
    EXPECT_EQ(Focus::missingBecause("err 1, err 2").note(), "не виден (err 1, err 2)");
    EXPECT_EQ((Focus{{}, {}, true, {}}).note(), "не виден");
    EXPECT_EQ((Focus{{}, "AXSecure", false, {}}).note(), "роль не читается");
    EXPECT_EQ((Focus{"AXTextField", {}, false, {}}).note(), "AXTextField");
    EXPECT_EQ((Focus{"AXWindow", "AXStandardWindow", false, {}}).note(),
              "AXWindow/AXStandardWindow");

    Paster::Result result;
    EXPECT_EQ(result.takenNote(), "текст не забрали");
    result.servedEagerly = true;
    EXPECT_EQ(result.takenNote(), "выложен данными, забор не отследить");
    result.takenAfterMs = 0;
    EXPECT_EQ(result.takenNote(), "забрали за 0 мс");
    result.takenAfterMs = 412;
    EXPECT_EQ(result.takenNote(), "забрали за 412 мс");
}

TEST(InMemoryPasteboardTest, EveryWriteRaisesTheCountAndOnlyReadingTheTextPulls) {
    InMemoryPasteboard pasteboard;
    std::int64_t count = pasteboard.changeCount();
    auto raised = [&] {
        std::int64_t now = pasteboard.changeCount();
        bool rose = now > count;
        count = now;
        return rose;
    };
    pasteboard.setString("a");
    EXPECT_TRUE(raised());
    pasteboard.clearContents();
    EXPECT_TRUE(raised());
    pasteboard.clearContents();
    EXPECT_TRUE(raised()) << "even a write that changes nothing";
    pasteboard.writeItems({{{"image/png", "png"}}});
    EXPECT_TRUE(raised());
    int asked = 0;
    pasteboard.writePromisedText([&] {
        ++asked;
        return std::string("текст");
    });
    EXPECT_TRUE(raised());

    EXPECT_EQ(pasteboard.itemCount(), 1);
    EXPECT_FALSE(pasteboard.types().empty());
    EXPECT_EQ(pasteboard.data(0, "x-kde-passwordManagerHint", 100), "secret");
    EXPECT_EQ(asked, 0) << "listing types or reading other types is not a pull";
    EXPECT_EQ(pasteboard.string(), "текст");
    EXPECT_EQ(pasteboard.data(0, "STRING", 100), "текст");
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(raised()) << "reading is not a write";
}

TEST(PasterDeliver, SlowReceiverGetsTheDictationAndThePreviousTextComesBack) {
    InMemoryPasteboard pasteboard;
    pasteboard.setString("чужое");
    Delivery d = deliverWithReceiver(pasteboard, "надиктованное", 0.4);
    EXPECT_EQ(d.received, "надиктованное");
    ASSERT_TRUE(d.result.takenAfterMs);
    EXPECT_GE(*d.result.takenAfterMs, 380);
    EXPECT_LT(*d.result.takenAfterMs, 800);
    EXPECT_FALSE(d.result.servedEagerly);
    EXPECT_TRUE(d.result.restored);
    EXPECT_FALSE(d.result.overwrittenByOthers);
    EXPECT_EQ(pasteboard.string(), "чужое");
    EXPECT_EQ(d.result.previousTypes.size(), plainTextTypes.size());
    EXPECT_TRUE(d.result.outcome.isPasted());
    EXPECT_EQ(d.result.focus, textArea);
}

TEST(PasterDeliver, FastReceiverEndsTheWaitSoonAfterThePull) {
    InMemoryPasteboard pasteboard;
    pasteboard.setString("прежний");
    Delivery d = deliverWithReceiver(pasteboard, "быстро", 0.02);
    EXPECT_EQ(d.received, "быстро");
    EXPECT_LT(d.seconds, 0.6) << "the restore follows the pull, not the deadline";
    EXPECT_GE(d.seconds, 0.15);
    EXPECT_EQ(pasteboard.string(), "прежний");
}

TEST(PasterDeliver, EveryPullRestartsTheQuietWindow) {
    InMemoryPasteboard pasteboard;
    double start = 0;
    std::thread reader;
    Paster::Result result = Paster::deliver("текст", pasteboard, textArea, [&] {
        start = Paster::clockSeconds();
        reader = std::thread([&] {
            for (int pull = 0; pull < 4; ++pull) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                EXPECT_EQ(pasteboard.string(), "текст") << "pull " << pull;
            }
        });
    });
    double seconds = since(start);
    reader.join();
    EXPECT_GE(seconds, 0.5);
    EXPECT_EQ(pasteboard.itemCount(), 0) << "nothing was there before";
    EXPECT_TRUE(result.restored);
}

TEST(PasterDeliver, WithoutAReceiverTheTextIsServedEagerlyAndThenRestored) {
    InMemoryPasteboard pasteboard;
    pasteboard.setString("до");
    Delivery d = deliverWithReceiver(pasteboard, "никто не взял", std::nullopt);
    EXPECT_TRUE(d.result.servedEagerly);
    EXPECT_FALSE(d.result.takenAfterMs);
    EXPECT_EQ(d.result.takenNote(), "выложен данными, забор не отследить");
    EXPECT_GE(d.seconds, 0.95);
    EXPECT_LT(d.seconds, 1.5);
    EXPECT_TRUE(d.result.restored) << "the eager write is ours and does not count as another";
    EXPECT_EQ(pasteboard.string(), "до");
    EXPECT_EQ(pasteboard.pulls(), 0);
}

TEST(PasterDeliver, ShortDeadlineWithoutReceiverSaysTheTextWasNotTaken) {
    Tuned deadline(Paster::pullDeadline, 0.35);
    InMemoryPasteboard pasteboard;
    pasteboard.setString("до");
    Delivery d = deliverWithReceiver(pasteboard, "тишина", std::nullopt);
    EXPECT_EQ(d.result.takenNote(), "текст не забрали");
    EXPECT_LT(d.seconds, 0.9);
    EXPECT_EQ(pasteboard.string(), "до");
}

TEST(PasterDeliver, LateReaderStillGetsTheTextAsPlainData) {
    Tuned eager(Paster::eagerAfter, 0.1);
    InMemoryPasteboard pasteboard;
    pasteboard.setString("прежнее");
    Delivery d = deliverWithReceiver(pasteboard, "страховка", 0.3);
    EXPECT_EQ(d.received, "страховка");
    EXPECT_TRUE(d.result.servedEagerly);
    EXPECT_FALSE(d.result.takenAfterMs);
    EXPECT_EQ(pasteboard.pulls(), 0);
    EXPECT_EQ(pasteboard.string(), "прежнее");
}

TEST(PasterDeliver, SeveralTypesAndItemsComeBackAsTheyWere) {
    InMemoryPasteboard pasteboard;
    const char raw[] = "\x89PNG\r\n\x1a\n\0\0binary";
    std::string png(raw, sizeof raw - 1);
    std::vector<PasteboardItem> before{{{"image/png", png}, {"text/html", "<b>x</b>"}},
                                       {{"text/uri-list", "file:///tmp/a"}}};
    pasteboard.writeItems(before);
    Delivery d = deliverWithReceiver(pasteboard, "текст", 0.25);
    EXPECT_EQ(d.received, "текст");
    ASSERT_EQ(pasteboard.itemCount(), 2);
    EXPECT_EQ(pasteboard.data(0, "image/png", SIZE_MAX), png);
    EXPECT_EQ(pasteboard.data(0, "text/html", SIZE_MAX), "<b>x</b>");
    EXPECT_EQ(pasteboard.data(1, "text/uri-list", SIZE_MAX), "file:///tmp/a");
    EXPECT_EQ(d.result.previousTypes,
              (std::vector<std::string>{"image/png", "text/html", "text/uri-list"}));
}

TEST(PasterDeliver, ContentsUpToTheLimitAreKeptAndOneByteMoreAreDropped) {
    Tuned fast(Paster::pullDeadline, 0.05);
    const std::size_t limit = Paster::maxSnapshotBytes.load();
    InMemoryPasteboard pasteboard;
    // Two types whose sum decides: each alone is under the limit.
    pasteboard.writeItems(
        {{{"image/png", std::string(limit - 10, 'p')}, {"text/plain", std::string(10, 't')}}});
    Delivery exact = deliverWithReceiver(pasteboard, "a", std::nullopt);
    EXPECT_FALSE(exact.result.skippedAsTooLarge);
    EXPECT_EQ(pasteboard.data(0, "image/png", SIZE_MAX)->size(), limit - 10);

    pasteboard.writeItems(
        {{{"image/png", std::string(limit - 10, 'p')}, {"text/plain", std::string(11, 't')}}});
    Delivery over = deliverWithReceiver(pasteboard, "b", std::nullopt);
    EXPECT_TRUE(over.result.skippedAsTooLarge);
    EXPECT_TRUE(over.result.restored);
    EXPECT_EQ(pasteboard.itemCount(), 0) << "the dictation is cleaned away, nothing comes back";
    EXPECT_EQ(over.result.previousTypes, (std::vector<std::string>{"image/png", "text/plain"}));
}

TEST(PasterDeliver, AnotherWriterEndsTheWaitAndIsLeftAlone) {
    InMemoryPasteboard pasteboard;
    pasteboard.setString("до");
    std::thread other;
    double start = 0;
    Paster::Result result = Paster::deliver("текст", pasteboard, textArea, [&] {
        start = Paster::clockSeconds();
        other = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pasteboard.setString("менеджер буфера");
        });
    });
    double seconds = since(start);
    other.join();
    EXPECT_LT(seconds, 0.4);
    EXPECT_TRUE(result.overwrittenByOthers);
    EXPECT_FALSE(result.restored);
    EXPECT_EQ(pasteboard.string(), "менеджер буфера");
}

TEST(PasterDeliver, AFailedKeystrokeRestoresAtOnceAndThenThrows) {
    InMemoryPasteboard pasteboard;
    pasteboard.setString("на месте");
    double start = Paster::clockSeconds();
    try {
        Paster::deliver("текст", pasteboard, textArea,
                        [] { throw Paster::Failure::eventCreationFailed(); });
        FAIL() << "no error";
    } catch (const Paster::Failure& failure) {
        EXPECT_EQ(failure.code(), Paster::Failure::Code::eventCreationFailed);
        EXPECT_STREQ(failure.what(), "не удалось создать событие клавиатуры");
    }
    EXPECT_LT(since(start), 0.2) << "no pull wait after a failed keystroke";
    EXPECT_EQ(pasteboard.string(), "на месте");
}

TEST(PasterDeliver, NotesTheFrontmostApplication) {
    InMemoryPasteboard pasteboard;
    FixedFrontmostApp frontmost;
    QImage icon(4, 4, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    frontmost.app = FrontmostApp{"Kate", icon, 42, "kate"};
    Tuned fast(Paster::pullDeadline, 0.05);
    Paster::Result result = Paster::deliver(
        "x", pasteboard, textArea, [] {}, &frontmost);
    EXPECT_EQ(result.outcome, Paster::Outcome::pasted("Kate"));
    ASSERT_TRUE(result.appIcon);
    EXPECT_EQ(result.appIcon->size(), QSize(4, 4));
}

// On the main thread a receiver that answers through the event loop must still be heard.
TEST(PasterDeliver, OnTheMainThreadTheEventLoopKeepsRunningDuringTheWait) {
    int argc = 1;
    char name[] = "paster_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    InMemoryPasteboard pasteboard;
    std::optional<std::string> received;
    Paster::Result result = Paster::deliver("через цикл", pasteboard, textArea, [&] {
        QMetaObject::invokeMethod(
            &app, [&] { received = pasteboard.string(); }, Qt::QueuedConnection);
    });
    EXPECT_EQ(received, "через цикл");
    EXPECT_TRUE(result.takenAfterMs);
}

struct PasteRig {
    std::shared_ptr<InMemoryPasteboard> pasteboard = std::make_shared<InMemoryPasteboard>();
    std::shared_ptr<RecordedKeystroke> keystroke = std::make_shared<RecordedKeystroke>();
    std::shared_ptr<FixedFrontmostApp> frontmost = std::make_shared<FixedFrontmostApp>();
    std::shared_ptr<ScriptedFocusSource> focus = std::make_shared<ScriptedFocusSource>();
    InsertionSeams seams{pasteboard, keystroke, frontmost, focus};
    std::optional<std::string> received;

    PasteRig() {
        frontmost->app = FrontmostApp{"Терминал", {}, 7, "xterm"};
        keystroke->onPress = [this] { received = pasteboard->string(); };
        pasteboard->setString("до");
    }
};

TEST(PasterPaste, EmptyTextAndMissingPermissionTouchNothing) {
    PasteRig rig;
    std::int64_t before = rig.pasteboard->changeCount();
    EXPECT_THROW(
        try { Paster::paste("", rig.seams); } catch (const Paster::Failure& failure) {
            EXPECT_EQ(failure.code(), Paster::Failure::Code::emptyText);
            throw;
        },
        Paster::Failure);
    rig.keystroke->canPress = false;
    try {
        Paster::paste("текст", rig.seams);
        FAIL() << "no error";
    } catch (const Paster::Failure& failure) {
        EXPECT_EQ(failure.code(), Paster::Failure::Code::noPermission);
        EXPECT_NE(std::string(failure.what()).find("XTEST"), std::string::npos);
    }
    EXPECT_EQ(rig.pasteboard->changeCount(), before);
    EXPECT_EQ(rig.keystroke->presses, 0);
    EXPECT_EQ(rig.focus->systemCalls, 0);

    rig.keystroke->canPress = true;
    rig.focus->answers = {textArea};
    EXPECT_EQ(Paster::paste(" ", rig.seams).outcome.isPasted(), true) << "a space is text";
    EXPECT_EQ(rig.received, " ");
}

TEST(PasterPaste, ABlockedFocusLeavesTheTextOnThePasteboard) {
    PasteRig rig;
    rig.focus->answers = {Focus{"AXButton", "push button", false, {}}};
    Paster::Result result = Paster::paste("текст", rig.seams);
    EXPECT_EQ(result.outcome, Paster::Outcome::nowhere());
    EXPECT_EQ(rig.keystroke->presses, 0);
    EXPECT_EQ(rig.pasteboard->string(), "текст");
    EXPECT_EQ(rig.pasteboard->pulls(), 0) << "plain data, not a promise";
    EXPECT_TRUE(result.servedEagerly);
    EXPECT_FALSE(result.restored);
    EXPECT_TRUE(result.previousTypes.empty());
    EXPECT_FALSE(result.appIcon);
}

TEST(PasterPaste, AMissingFocusIsAskedOnceMoreAfterWakingTheApplication) {
    PasteRig rig;
    rig.focus->answers = {std::nullopt, Focus{"AXWindow", {}, false, {}}};
    Paster::Result result = Paster::paste("текст", rig.seams);
    EXPECT_EQ(rig.focus->wakes, 1);
    EXPECT_EQ(rig.focus->systemCalls, 2);
    EXPECT_EQ(result.outcome, Paster::Outcome::nowhere()) << "the second answer stands";

    PasteRig missing;
    missing.focus->answers = {std::nullopt};
    result = Paster::paste("текст", missing.seams);
    EXPECT_TRUE(result.outcome.isPasted()) << "a focus nobody can see still gets the text";
    EXPECT_EQ(result.focus.note(), "не виден (system 2, app 7)");
    EXPECT_EQ(missing.received, "текст");
    EXPECT_EQ(result.outcome.app(), "Терминал");
    EXPECT_EQ(missing.pasteboard->string(), "до");

    missing.frontmost->app.reset();
    EXPECT_EQ(Paster::currentFocus(missing.seams).detail, "нет активного приложения");
}

} // namespace
} // namespace talvoro
