#include <gtest/gtest.h>

#include "base/hotkey_binding.h"
#include "base/key_table.h"

using namespace talvoro;
using HB = HotkeyBinding;

TEST(HotkeyBinding, SpellingsOfOptionSpaceAllAgree) {
    for (const char* text : {"opt+space", "⌥Space", "Option + Space", "alt+SPACE", "space+opt",
                             "opt+opt+space", " opt \t+ space ", "Alt+Space"}) {
        auto b = HB::parse(text);
        ASSERT_TRUE(b) << text;
        EXPECT_EQ(*b, HB::defaultBinding()) << text;
        EXPECT_EQ(b->description(), "Alt+Space");
    }
}

TEST(HotkeyBinding, ModifiersPrintInFixedOrderAndRawCodesRoundTrip) {
    auto b = HB::parse("shift+ctrl+f");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->keyCode, 3);
    EXPECT_EQ(b->modifiers, HB::control | HB::shift);
    EXPECT_EQ(b->description(), "Ctrl+Shift+F");
    EXPECT_EQ(HB::parse("shift+opt+v")->description(), "Alt+Shift+V");
    EXPECT_EQ(HB::parse("cmd+d")->description(), "Super+D");
    auto raw = HB::parse("cmd+key300");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->description(), "Super+key300");
    EXPECT_EQ(HB::parse(raw->description()), raw);
    EXPECT_EQ(HB::parse("key65535")->keyCode, 65535);
    EXPECT_FALSE(HB::parse("key65536"));
}

TEST(HotkeyBinding, NamedKeysWithoutModifiers) {
    EXPECT_EQ(HB::parse("esc")->description(), "Esc");
    EXPECT_EQ(HB::parse("esc")->modifiers, 0u);
    EXPECT_EQ(HB::parse("enter")->keyCode, 36);
    EXPECT_EQ(HB::parse("return")->description(), "Enter");
    EXPECT_EQ(HB::parse("f1")->keyCode, 122);
    EXPECT_EQ(HB::parse("f1")->description(), "F1");
    EXPECT_EQ(HB::parse("delete")->description(), "Backspace");
    EXPECT_EQ(HB::parse("key105")->description(), "F13");
}

TEST(HotkeyBinding, UnreadableTextsGiveNoBinding) {
    for (const char* text :
         {"opt+a+b", "opt", "opt+spce", "", "+", "key", "   ", "ctrl+\n", "opt+пробел"})
        EXPECT_FALSE(HB::parse(text)) << text;
}

TEST(HotkeyBinding, EveryKeyRoundTripsWithEveryModifierSet) {
    for (const KeyInfo& key : keyTable()) {
        const std::string_view name = key.label;
        const std::uint16_t code = key.code;
        for (std::uint64_t mods :
             {std::uint64_t{0}, HB::option, HB::control | HB::shift, HB::relevantMask}) {
            HB binding(code, mods);
            auto back = HB::parse(binding.description());
            ASSERT_TRUE(back) << name << " " << binding.description();
            EXPECT_EQ(*back, binding) << name;
        }
    }
}

TEST(HotkeyBinding, MatchesIgnoresOtherFlagBitsButNotExtraModifiers) {
    HB b = HB::defaultBinding();
    EXPECT_TRUE(b.matches(49, HB::option | 0x10000 /* caps lock */ | 0x200000));
    EXPECT_FALSE(b.matches(49, HB::option | HB::shift));
    EXPECT_FALSE(b.matches(49, 0));
    EXPECT_FALSE(b.matches(48, HB::option));
}
