#include "base/held_hotkey.h"

#include <gtest/gtest.h>

#include <vector>

using namespace talvoro;
using namespace std::chrono_literals;

// The desktop reports the release with the hotkey's key; its Alt comes up a moment later.
TEST(HeldHotkey, APasteRightAfterTheReleaseWaitsForTheModifiersToFollow) {
    HeldHotkey::Clock::time_point now{};
    std::vector<HeldHotkey::Clock::duration> slept;
    HeldHotkey hotkey([&] { return now; },
                      [&](HeldHotkey::Clock::duration wait) {
                          slept.push_back(wait);
                          now += wait;
                      });
    hotkey.waitForRelease(0ms); // never pressed
    hotkey.pressed();
    hotkey.released();
    now += 40ms;
    hotkey.waitForRelease(1s);
    now += 1s;
    hotkey.waitForRelease(1s); // long since
    EXPECT_EQ(slept, std::vector<HeldHotkey::Clock::duration>{HeldHotkey::settle - 40ms});
}
