#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talvoro::x11keys {

// The X keysym of a HotkeyBinding key code; nothing for a code without one.
std::optional<std::uint32_t> keysymForKeyCode(std::uint16_t keyCode);
// Its keysym's name as X and GTK spell it ("space", "F9"); empty for a code without one.
std::string keysymName(std::uint16_t keyCode);

// X core modifier masks.
inline constexpr std::uint16_t shiftMask = 1 << 0;
inline constexpr std::uint16_t lockMask = 1 << 1;
inline constexpr std::uint16_t controlMask = 1 << 2;
inline constexpr std::uint16_t mod1Mask = 1 << 3;
inline constexpr std::uint16_t mod4Mask = 1 << 6;

// Control, Option, Shift, Command become Control, Mod1 (Alt), Shift, Mod4 (Super).
std::uint16_t modifierMaskForFlags(std::uint64_t flags);

// An X event state as HotkeyBinding flags; Caps Lock and Num Lock get the bits they have in
// that flag word (outside the bits a binding compares).
std::uint64_t flagsForModifierMask(std::uint16_t state, std::uint16_t numLockMask);

} // namespace talvoro::x11keys
