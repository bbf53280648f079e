#include <gtest/gtest.h>

#include <algorithm>

#include "base/held_hotkey.h"
#include "hotkey/gnome_keybindings.h"
#include "hotkey/hotkey_tap.h"
#include "hotkey/phase_recorder.h"
#include "hotkey/portal_key_source.h"
#include "support/event_loop.h"
#include "support/portal_bus.h"

namespace talvoro {
namespace {

using testing::PhaseRecorder;
using Phase = HotkeyTap::Phase;

TEST(GnomeKeybindings, FindTheCombinationWhateverTheModifiersSpelling) {
    const std::string listing =
        "org.gnome.desktop.wm.keybindings activate-window-menu ['<Alt>space']\n"
        "org.gnome.desktop.wm.keybindings close ['<Super>q', '<Primary><Mod1>F4']\n"
        "org.gnome.desktop.wm.keybindings minimize @as []\n";
    EXPECT_TRUE(gnomeKeybindings::holds(listing, HotkeyBinding::defaultBinding()));
    EXPECT_TRUE(gnomeKeybindings::holds(listing, *HotkeyBinding::parse("opt+ctrl+f4")));
    EXPECT_FALSE(gnomeKeybindings::holds(listing, *HotkeyBinding::parse("ctrl+opt+space")));
    EXPECT_FALSE(gnomeKeybindings::holds(listing, *HotkeyBinding::parse("cmd+f4")));
}

class PortalKeySourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::application();
        ASSERT_TRUE(bus.ready) << "xdg-desktop-portal did not come up on the private bus";
    }
    HotkeyTap::SourceFactory portal() {
        return [] { return makePortalKeySource({"dictation", "Диктовка"}); };
    }
    testing::PortalBus bus;
};

// Bound on the first run (and checked in a session of its own), found bound on the next; the
// shortcut's activation is the press and its deactivation the release (activations between them
// are key repeats), so holding it records and letting go stops.
TEST_F(PortalKeySourceTest, BindsOnceAndReportsPressAndRelease) {
    PhaseRecorder phases;
    {
        HotkeyTap tap(HotkeyBinding::defaultBinding(), {}, phases.handler(), portal());
        tap.start();
        EXPECT_EQ(bus.calls(),
                  (std::vector<std::string>{"CreateSession -", "ListShortcuts -",
                                            "BindShortcuts dictation ALT+space", "Session.Close",
                                            "CreateSession -", "ListShortcuts dictation"}));
        bus.control("Activate", "dictation");
        EXPECT_EQ(phases.await(1), std::vector<Phase>{Phase::down});
        EXPECT_TRUE(HeldHotkey::shared().held()) << "a paste keystroke waits for the release";
        bus.control("Activate", "polish");    // another program's shortcut in the same desktop
        bus.control("Activate", "dictation"); // the desktop's key repeat while it is held
        bus.control("Deactivate", "dictation");
        EXPECT_EQ(phases.await(2), (std::vector<Phase>{Phase::down, Phase::up}));
        EXPECT_FALSE(HeldHotkey::shared().held());
    }
    EXPECT_EQ(bus.awaitCalls(7).back(), "Session.Close");

    HotkeyTap again(HotkeyBinding::defaultBinding(), {}, phases.handler(), portal());
    again.start();
    std::vector<std::string> calls = bus.awaitCalls(9);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 7, calls.end()),
              (std::vector<std::string>{"CreateSession -", "ListShortcuts dictation"}));
}

// A combination the desktop keeps is never offered (the presenter takes the next one); GNOME 48
// answers a binding it granted with the code 2, and lists it: that is bound.
TEST_F(PortalKeySourceTest, OffersNoKeptCombinationAndTakesAListedBindingAsBound) {
    auto keptByDesktop = [] {
        return makePortalKeySource({"dictation", "Диктовка", [](const HotkeyBinding& binding) {
                                        return binding == HotkeyBinding::defaultBinding();
                                    }});
    };
    PhaseRecorder phases;
    HotkeyTap kept(HotkeyBinding::defaultBinding(), {}, phases.handler(), keptByDesktop);
    try {
        kept.start();
        FAIL() << "a combination the desktop keeps must not be bound";
    } catch (const HotkeyTap::Failure& failure) {
        EXPECT_EQ(failure.kind(), HotkeyTap::Failure::Kind::conflict);
    }
    bus.control("AnswerBindsAsGnome48");
    HotkeyTap tap(*HotkeyBinding::parse("ctrl+opt+space"), {}, phases.handler(), keptByDesktop);
    tap.start();
    const std::vector<std::string> calls = bus.calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& call) { return call.starts_with("Bind"); }),
              1);
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "BindShortcuts dictation-CTRL+ALT+space CTRL+ALT+space"),
              calls.end());
    bus.control("Activate", "dictation-CTRL+ALT+space");
    EXPECT_EQ(phases.await(1), std::vector<Phase>{Phase::down});
}

TEST_F(PortalKeySourceTest, ARefusedSessionIsReportedAsARefusal) {
    bus.control("Refuse");
    HotkeyTap tap(
        HotkeyBinding::defaultBinding(), {}, [](Phase, double) {}, portal());
    try {
        tap.start();
        FAIL() << "a refused session must not start the tap";
    } catch (const HotkeyTap::Failure& failure) {
        EXPECT_EQ(failure.kind(), HotkeyTap::Failure::Kind::refused) << failure.what();
    }
}

} // namespace
} // namespace talvoro
