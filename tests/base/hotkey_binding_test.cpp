#include <gtest/gtest.h>

#include "base/hotkey_binding.h"
#include "base/key_table.h"

using namespace talvoro;
using HB = HotkeyBinding;

TEST(HotkeyBinding, SpellingsAgreeModifiersPrintInFixedOrderAndKeysAsAPCKeyboardLabelsThem) {
    const std::pair<const char*, const char*> cases[] = {{"opt+space", "Alt+Space"},
                                                         {"⌥Space", "Alt+Space"},
                                                         {"Option + Space", "Alt+Space"},
                                                         {"space+opt", "Alt+Space"},
                                                         {"opt+opt+space", "Alt+Space"},
                                                         {" opt \t+ space ", "Alt+Space"},
                                                         {"alt+SPACE", "Alt+Space"},
                                                         {"shift+ctrl+f", "Ctrl+Shift+F"},
                                                         {"shift+opt+v", "Alt+Shift+V"},
                                                         {"cmd+d", "Super+D"},
                                                         {"cmd+key300", "Super+key300"},
                                                         {"esc", "Esc"},
                                                         {"return", "Enter"},
                                                         {"f1", "F1"},
                                                         {"delete", "Backspace"},
                                                         {"key105", "F13"}};
    for (const auto& [text, description] : cases) {
        const auto binding = HB::parse(text);
        ASSERT_TRUE(binding) << text;
        EXPECT_EQ(binding->description(), description);
        EXPECT_EQ(HB::parse(description), binding);
    }
    EXPECT_EQ(HB::parse("Alt+Space"), HB::defaultBinding());
    EXPECT_EQ(HB::parse("key65535")->keyCode, 65535);
    EXPECT_FALSE(HB::parse("key65536"));
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
