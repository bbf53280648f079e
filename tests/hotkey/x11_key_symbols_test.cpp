#include <gtest/gtest.h>

#include <map>
#include <set>

#include "base/hotkey_binding.h"
#include "hotkey/x11_key_symbols.h"

using namespace talvoro;
using namespace talvoro::x11keys;

TEST(X11KeySymbols, EveryNamedKeyHasItsOwnKeysym) {
    std::map<std::uint32_t, std::uint16_t> codeOfKeysym;
    for (const auto& [name, code] : HotkeyBinding::keyCodes()) {
        auto keysym = keysymForKeyCode(code);
        ASSERT_TRUE(keysym.has_value()) << name;
        // Printable names are their own Latin-1 keysym.
        if (name.size() == 1) {
            EXPECT_EQ(*keysym, static_cast<unsigned char>(name[0])) << name;
        }
        auto [it, fresh] = codeOfKeysym.emplace(*keysym, code);
        EXPECT_TRUE(fresh || it->second == code) << name << " shares a keysym with another code";
    }
    EXPECT_EQ(keysymForKeyCode(51), 0xff08u);  // "delete" is the key left of it: BackSpace
    EXPECT_EQ(keysymForKeyCode(122), 0xffbeu); // F1
    EXPECT_FALSE(keysymForKeyCode(500).has_value());
}

TEST(X11KeySymbols, ModifiersMapBothWaysAndLocksStayOutOfTheMatch) {
    const std::uint64_t all = HotkeyBinding::control | HotkeyBinding::option |
                              HotkeyBinding::shift | HotkeyBinding::command;
    EXPECT_EQ(modifierMaskForFlags(HotkeyBinding::option), mod1Mask);
    EXPECT_EQ(modifierMaskForFlags(HotkeyBinding::command), mod4Mask);
    for (std::uint64_t flags = 0; flags <= all; flags += 0x20000)
        EXPECT_EQ(flagsForModifierMask(modifierMaskForFlags(flags & all), 0), flags & all);

    const std::uint16_t numLock = 1 << 4; // Mod2, where Num Lock usually sits
    std::uint64_t locked = flagsForModifierMask(mod1Mask | lockMask | numLock, numLock);
    EXPECT_TRUE(HotkeyBinding::defaultBinding().matches(49, locked));
    EXPECT_NE(locked, HotkeyBinding::option); // the lock bits are kept, just not compared
    EXPECT_FALSE(HotkeyBinding::defaultBinding().matches(
        49, flagsForModifierMask(mod1Mask | shiftMask, numLock)));
}
