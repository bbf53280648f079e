#include "insertion/in_memory_pasteboard.h"
#include "insertion/manual_paste_clock.h"
#include "insertion/paster.h"
#include "insertion/pipe_transfer.h"
#include "insertion/promised_text.h"
#include "insertion/scripted_insertion_seams.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <fcntl.h>
#include <functional>
#include <optional>
#include <unistd.h>

#include <gtest/gtest.h>

namespace talvoro {
namespace {

using Paster::Focus;
using testing::ManualPasteClock;

const Focus textArea{"AXTextArea", {}, false, {}};

// The code of the failure `action` throws; nothing when it throws none.
std::optional<Paster::Failure::Code> failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Paster::Failure& failure) {
        return failure.code();
    }
    return std::nullopt;
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

// One insertion on a manual clock. Intervals are binary fractions of a second, so that the
// clock's sums are exact.
struct Insertion {
    InMemoryPasteboard pasteboard;
    ManualPasteClock clock;
    std::optional<std::string> received;
    Paster::Result result;
    double seconds = 0; // keystroke to return

    // The receiver reads `readAfter` s after the keystroke; never when absent.
    void deliver(const std::string& text, std::optional<double> readAfter) {
        double start = 0;
        result = Paster::deliver(text, pasteboard, textArea,
                                 [&] {
                                     start = clock.now();
                                     if (readAfter)
                                         clock.after(*readAfter,
                                                     [this] { received = pasteboard.string(); });
                                 },
                                 {{}, nullptr, &clock});
        seconds = clock.now() - start;
    }
};

TEST(PasterDeliver, TheRestoreFollowsTheLatestPullByTheQuietWindow) {
    Insertion fast;
    fast.deliver("быстро", 0.03125);
    EXPECT_EQ(fast.received, "быстро");
    EXPECT_GE(fast.seconds, 0.03125 + 0.15);
    EXPECT_LT(fast.seconds, 0.03125 + 0.15 + 0.006) << "the deadline played no part";

    Insertion repeated;
    for (double at : {0.125, 0.25, 0.375, 0.5})
        repeated.clock.after(at, [&] { repeated.pasteboard.string(); });
    repeated.deliver("текст", std::nullopt);
    EXPECT_GE(repeated.seconds, 0.5 + 0.15);
    EXPECT_LT(repeated.seconds, 0.5 + 0.15 + 0.006);
    EXPECT_EQ(repeated.result.takenAfterMs, 125);
    EXPECT_EQ(repeated.pasteboard.itemCount(), 0) << "nothing was there before";
}

// A receiver that never stops pulling must not hold the paste (and quitting) for ever.
TEST(PasterDeliver, AReceiverThatKeepsPullingIsCutOffAtTheLimitAndTheNoteSaysSo) {
    Insertion run;
    run.pasteboard.setString("до");
    int left = 100;
    std::function<void()> pull = [&] {
        run.pasteboard.string();
        if (--left > 0)
            run.clock.after(0.125, pull);
    };
    run.clock.after(0.125, pull);
    run.deliver("текст", std::nullopt);
    EXPECT_LT(run.seconds, 5.006);
    EXPECT_EQ(run.result.takenNote(),
              "забрали за 125 мс, но приёмник всё читал — ждать конца не стали");
}

// A reader that keeps taking a little, never stalling long enough to be dropped for it, is cut
// off once its transfer is overdue: it gets end of file instead of the rest.
TEST(OutgoingTransfersTest, AReaderThatTricklesIsCutOffAtTheTotalLimit) {
    auto pipe = makePipe();
    ::fcntl(pipe->second.get(), F_SETPIPE_SZ, 4096);
    const auto start = OutgoingTransfers::Clock::now();
    OutgoingTransfers out;
    out.add(std::move(pipe->second), std::make_shared<const std::string>(1u << 20, 'x'), start);
    char piece[4096];
    ssize_t got = 0, total = 0;
    for (int step = 1; step <= 20 && !out.empty(); ++step) {
        total += ::read(pipe->first.get(), piece, sizeof piece);
        out.progress(start + step * OutgoingTransfers::stallLimit / 2);
    }
    ASSERT_TRUE(out.empty()) << "still writing after the limit";
    while ((got = ::read(pipe->first.get(), piece, sizeof piece)) > 0) // up to end of file
        total += got;
    EXPECT_LT(total, 1 << 20);
}

TEST(PasterDeliver, UnclaimedTextIsServedAsDataAndGivenUpAtTheDeadline) {
    Insertion nobody;
    nobody.pasteboard.setString("до");
    nobody.clock.after(0.75, [&] { nobody.received = nobody.pasteboard.string(); });
    nobody.deliver("никто не взял", std::nullopt);
    EXPECT_EQ(nobody.received, "никто не взял") << "a late reader still gets the text";
    EXPECT_EQ(nobody.pasteboard.pulls(), 0) << "as plain data, not through the promise";
    EXPECT_TRUE(nobody.result.servedEagerly);
    EXPECT_EQ(nobody.result.takenNote(), "выложен данными, забор не отследить");
    EXPECT_GE(nobody.seconds, 1.0);
    EXPECT_LT(nobody.seconds, 1.006);
    EXPECT_TRUE(nobody.result.restored) << "the eager write is ours and does not count as another";
    EXPECT_EQ(nobody.pasteboard.string(), "до");

    Tuned deadline(Paster::pullDeadline, 0.375);
    Insertion silence;
    silence.pasteboard.setString("до");
    silence.deliver("тишина", std::nullopt);
    EXPECT_EQ(silence.result.takenNote(), "текст не забрали");
    EXPECT_LT(silence.seconds, 0.381);
    EXPECT_EQ(silence.pasteboard.string(), "до");
}

// A screenshot offered in several formats that together exceed the limit: what fits comes back,
// the largest formats are left out first.
TEST(PasterDeliver, APreviousClipboardOverTheLimitKeepsWhatFitsLargestDroppedFirst) {
    Tuned cap(Paster::maxSnapshotBytes, std::size_t{1000});
    Insertion run;
    run.pasteboard.writeItems({{{"image/png", std::string(400, 'p')},
                                {"image/bmp", std::string(600, 'b')},
                                {"image/x-portable-pixmap", std::string(601, 'm')},
                                {"image/x-xpixmap", std::string(150, 'x')}}});
    run.deliver("текст", 0.0625);
    EXPECT_EQ(run.result.droppedTypes,
              (std::vector<std::string>{"image/x-portable-pixmap", "image/bmp"}));
    EXPECT_FALSE(run.result.skippedAsTooLarge);
    EXPECT_EQ(run.pasteboard.itemTypes(0),
              (std::vector<std::string>{"image/png", "image/x-xpixmap"}));
    EXPECT_EQ(run.pasteboard.data(0, "image/png", SIZE_MAX), std::string(400, 'p'));

    Insertion huge;
    huge.pasteboard.writeItems({{{"image/png", std::string(1001, 'p')}}});
    huge.deliver("текст", 0.0625);
    EXPECT_TRUE(huge.result.skippedAsTooLarge) << "nothing fits";
    EXPECT_EQ(huge.pasteboard.itemCount(), 0);
}

TEST(PasterDeliver, AnotherWriterEndsTheWaitAndIsLeftAlone) {
    Insertion run;
    run.pasteboard.setString("до");
    run.clock.after(0.125, [&] { run.pasteboard.setString("менеджер буфера"); });
    run.deliver("текст", std::nullopt);
    EXPECT_LT(run.seconds, 0.131);
    EXPECT_TRUE(run.result.overwrittenByOthers);
    EXPECT_FALSE(run.result.restored);
    EXPECT_EQ(run.pasteboard.string(), "менеджер буфера");
}

TEST(PasterDeliver, AFailedKeystrokeRestoresAtOnceAndThenThrows) {
    InMemoryPasteboard pasteboard;
    ManualPasteClock clock;
    pasteboard.setString("на месте");
    const double start = clock.now();
    EXPECT_EQ(failureOf([&] {
                  Paster::deliver("текст", pasteboard, textArea,
                                  [] { throw Paster::Failure::eventCreationFailed(); },
                                  {{}, nullptr, &clock});
              }),
              Paster::Failure::Code::eventCreationFailed);
    EXPECT_EQ(clock.now(), start) << "no pull wait after a failed keystroke";
    EXPECT_EQ(pasteboard.string(), "на месте");
}

// Once the keystroke went out the text is in the field: a pasteboard failing afterwards must
// not turn the insertion into an error that a retry would paste a second time.
TEST(PasterDeliver, APasteboardFailingAfterTheKeystrokeIsReportedNotThrown) {
    Insertion run;
    run.pasteboard.setString("до");
    run.clock.after(0.0625, [&] {
        run.received = run.pasteboard.string();
        run.pasteboard.beforeWrite = [] { throw PasteboardUnavailable("связь оборвалась"); };
    });
    ASSERT_NO_THROW(run.deliver("текст", std::nullopt));
    EXPECT_EQ(run.received, "текст");
    EXPECT_TRUE(run.result.outcome.isPasted());
    EXPECT_EQ(run.result.takenAfterMs, 62);
    EXPECT_FALSE(run.result.restored);
    EXPECT_EQ(run.result.restoreError, "связь оборвалась");
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
    std::shared_ptr<InMemoryPasteboard> primary = std::make_shared<InMemoryPasteboard>();
    std::shared_ptr<testing::RecordedKeystroke> keystroke =
        std::make_shared<testing::RecordedKeystroke>();
    std::shared_ptr<testing::FixedFrontmostApp> frontmost =
        std::make_shared<testing::FixedFrontmostApp>();
    std::shared_ptr<testing::ScriptedFocusSource> focus =
        std::make_shared<testing::ScriptedFocusSource>();
    std::shared_ptr<ManualPasteClock> clock = std::make_shared<ManualPasteClock>();
    InsertionSeams seams{pasteboard, keystroke, frontmost, focus, primary, clock};
    std::optional<std::string> received;

    PasteRig() {
        frontmost->app = FrontmostApp{"Kate", {}, 7, "kate", "kate"};
        keystroke->onPress = [this] { received = pasteboard->string(); };
        pasteboard->setString("до");
        focus->answers = {textArea};
    }
};

TEST(PasterPaste, NothingIsTouchedWithoutTextOrPermission) {
    PasteRig rig;
    const std::int64_t before = rig.pasteboard->changeCount();
    EXPECT_EQ(failureOf([&] { Paster::paste("", rig.seams); }), Paster::Failure::Code::emptyText);
    rig.keystroke->canPress = false;
    EXPECT_EQ(Paster::missingPermission(rig.seams)->code(), Paster::Failure::Code::noPermission);
    rig.seams.keystroke.reset(); // a Wayland session that offers no way to press keys
    EXPECT_STREQ(Paster::missingPermission(rig.seams)->what(), "в этом сеансе нечем нажать Ctrl+V");
    rig.seams.pasteboard.reset();
    EXPECT_EQ(Paster::missingPermission(rig.seams)->code(), Paster::Failure::Code::noDisplay)
        << "without a display, XTEST is not what is missing";
    EXPECT_THROW(Paster::paste("текст", rig.seams), Paster::Failure);
    EXPECT_EQ(rig.pasteboard->changeCount(), before);
    EXPECT_EQ(rig.focus->systemCalls, 0);

    PasteRig space;
    EXPECT_TRUE(Paster::paste(" ", space.seams).outcome.isPasted()) << "a space is text";
    EXPECT_EQ(space.received, " ");
}

TEST(PasterPaste, ABlockedFocusLeavesTheTextOnThePasteboardOutOfHistories) {
    PasteRig rig;
    rig.focus->answers = {Focus{"AXButton", "push button", false, {}}};
    Paster::Result result = Paster::paste("текст", rig.seams);
    EXPECT_EQ(result.outcome, Paster::Outcome::nowhere());
    EXPECT_TRUE(rig.keystroke->presses.empty());
    EXPECT_EQ(rig.pasteboard->string(), "текст");
    EXPECT_EQ(rig.pasteboard->data(0, "x-kde-passwordManagerHint", 100), "secret");
    EXPECT_EQ(rig.pasteboard->pulls(), 0) << "plain data, not a promise";
    EXPECT_TRUE(result.servedEagerly);
    EXPECT_FALSE(result.restored);
    EXPECT_TRUE(result.previousTypes.empty());
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
    EXPECT_EQ(result.outcome.app(), "Kate");
    EXPECT_EQ(missing.pasteboard->string(), "до");

    PasteRig unserved; // no accessibility service: nothing a second look could find
    unserved.focus->answers = {std::nullopt};
    unserved.focus->serviceThere = false;
    const double start = unserved.clock->now();
    Paster::paste("текст", unserved.seams);
    EXPECT_EQ(unserved.focus->systemCalls, 1);
    EXPECT_LT(unserved.clock->now() - start, 0.25) << "only the wait for the pull";

    missing.frontmost->app.reset();
    EXPECT_EQ(Paster::currentFocus(missing.seams).detail, "нет активного приложения");
}

// A user still holding the hotkey's modifiers must not eat into the pull wait: the clock starts
// when the keystroke goes out, not before the wait for the keys to come up.
TEST(PasterPaste, TheWaitStartsWhenTheKeystrokeIsPosted) {
    PasteRig rig;
    rig.keystroke->onWait = [&] { rig.clock->pause(0.75); };
    rig.keystroke->onPress = [&] {
        rig.clock->after(0.125, [&] { rig.received = rig.pasteboard->string(); });
    };
    Paster::Result result = Paster::paste("текст", rig.seams);
    EXPECT_EQ(rig.received, "текст");
    EXPECT_EQ(result.takenAfterMs, 125);
    EXPECT_FALSE(result.servedEagerly);
}

} // namespace
} // namespace talvoro
