#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "hotkey/fake_keyboard.h"
#include "hotkey/hotkey_tap.h"
#include "hotkey/phase_recorder.h"

using namespace talvoro;
using talvoro::testing::FakeKeyboard;
using talvoro::testing::PhaseRecorder;
using Phase = HotkeyTap::Phase;

namespace {

constexpr std::uint16_t space = 49, escape = 53;
constexpr auto opt = HotkeyBinding::option;

struct TapFixture : ::testing::Test {
    std::shared_ptr<FakeKeyboard> keyboard = std::make_shared<FakeKeyboard>();
    PhaseRecorder recorder;
};

} // namespace

// Which keys are taken, whatever the locks, and the counters: X11Tap checks them on a real server.
TEST_F(TapFixture, ReportsTheBindingOnItsQueueOffTheTapThread) {
    HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, recorder.handler(), keyboard->factory());
    tap.start();
    EXPECT_EQ(keyboard->tapThreadName(), "ostrel.hotkey.t"); // 15 bytes kept
    EXPECT_EQ(keyboard->down(space, opt), KeyVerdict::swallow);
    EXPECT_EQ(keyboard->up(space, opt), KeyVerdict::swallow);
    EXPECT_EQ(recorder.await(2), (std::vector<Phase>{Phase::down, Phase::up}));
    std::lock_guard guard(recorder.lock);
    EXPECT_EQ(recorder.threadName, "ostrel.hotkey");
}

TEST_F(TapFixture, ReleasingTheModifierFirstStillGivesUpOnce) {
    HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, recorder.handler(), keyboard->factory());
    tap.start();
    EXPECT_EQ(keyboard->down(space, opt), KeyVerdict::swallow);
    EXPECT_EQ(keyboard->up(space, 0), KeyVerdict::swallow);
    EXPECT_EQ(keyboard->up(space, 0), KeyVerdict::pass);
    // A second press before the release counts again; one release ends both.
    EXPECT_EQ(keyboard->down(space, opt), KeyVerdict::swallow);
    EXPECT_EQ(keyboard->down(space, opt), KeyVerdict::swallow);
    EXPECT_EQ(keyboard->up(space, opt), KeyVerdict::swallow);
    EXPECT_EQ(recorder.await(5),
              (std::vector<Phase>{Phase::down, Phase::up, Phase::down, Phase::down, Phase::up}));
    EXPECT_EQ(tap.counters().matched, 3);
}

TEST_F(TapFixture, PredicateDecidesForTheWholePress) {
    std::atomic<bool> wanted = false;
    HotkeyTap tap(
        HotkeyBinding(escape, 0), [&] { return wanted.load(); }, recorder.handler(),
        keyboard->factory());
    tap.start();
    EXPECT_EQ(keyboard->down(escape, 0), KeyVerdict::pass);
    wanted = true; // a change between press and release does not claim the release
    EXPECT_EQ(keyboard->up(escape, 0), KeyVerdict::pass);
    EXPECT_EQ(tap.counters().matched, 0); // decided on the tap thread before the verdict

    EXPECT_EQ(keyboard->down(escape, 0), KeyVerdict::swallow);
    wanted = false;
    EXPECT_EQ(keyboard->up(escape, 0), KeyVerdict::swallow);
    EXPECT_EQ(recorder.await(2), (std::vector<Phase>{Phase::down, Phase::up}));
}

TEST_F(TapFixture, StopIsIdempotentAndStartRestarts) {
    HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, recorder.handler(), keyboard->factory());
    tap.stop();
    EXPECT_EQ(keyboard->opens(), 0);
    tap.start();
    EXPECT_EQ(keyboard->down(space, opt), KeyVerdict::swallow);
    tap.start(); // the old thread ends, a new one takes over
    EXPECT_EQ(keyboard->opens(), 2);
    EXPECT_TRUE(keyboard->running());
    EXPECT_EQ(keyboard->up(space, opt), KeyVerdict::swallow);
    tap.stop();
    tap.stop();
    EXPECT_FALSE(keyboard->running());
    EXPECT_EQ(keyboard->down(space, opt), KeyVerdict::pass);
    EXPECT_EQ(recorder.await(2).size(), 2u);
    EXPECT_EQ(tap.counters().matched, 1);
}

namespace {

// Ignores stop() until released, like a platform call that hangs.
struct Hang {
    std::atomic<bool> released = false;
    std::promise<void> ended;
};

class StuckSource : public KeyEventSource {
public:
    explicit StuckSource(std::shared_ptr<Hang> hang) : hang(std::move(hang)) {}
    void open(const HotkeyBinding&) override {}
    void run(KeyEventSink&) override {
        while (!hang->released)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        hang->ended.set_value();
    }
    void stop() override {}
    void reenable() override {}

private:
    std::shared_ptr<Hang> hang;
};

} // namespace

TEST(HotkeyTapStop, DestructionDoesNotWaitForAHangingThread) {
    auto hang = std::make_shared<Hang>();
    std::future<void> ended = hang->ended.get_future();
    {
        HotkeyTap tap(
            HotkeyBinding::defaultBinding(), [](double) {},
            [hang] { return std::make_unique<StuckSource>(hang); });
        tap.start();
    } // returns while the source still hangs: otherwise this never ends
    EXPECT_FALSE(hang->released);
    hang->released = true; // the abandoned thread ends on its own, holding what it uses
    ended.wait();
}
