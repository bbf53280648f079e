#include "hotkey/x11_key_symbols.h"

#include <xkbcommon/xkbcommon.h>

#include "base/hotkey_binding.h"
#include "base/key_table.h"

namespace talvoro::x11keys {

namespace {

constexpr std::uint64_t alphaShiftFlag = 0x10000;
constexpr std::uint64_t numericPadFlag = 0x200000;

} // namespace

std::optional<std::uint32_t> keysymForKeyCode(std::uint16_t keyCode) {
    const KeyInfo* key = findKey(keyCode);
    return key != nullptr ? std::optional(key->keysym) : std::nullopt;
}

std::string keysymName(std::uint16_t keyCode) {
    const std::optional<std::uint32_t> keysym = keysymForKeyCode(keyCode);
    char name[64] = "";
    if (!keysym || xkb_keysym_get_name(*keysym, name, sizeof name) < 0)
        return {};
    return name;
}

std::uint16_t modifierMaskForFlags(std::uint64_t flags) {
    std::uint16_t mask = 0;
    if (flags & HotkeyBinding::control)
        mask |= controlMask;
    if (flags & HotkeyBinding::option)
        mask |= mod1Mask;
    if (flags & HotkeyBinding::shift)
        mask |= shiftMask;
    if (flags & HotkeyBinding::command)
        mask |= mod4Mask;
    return mask;
}

std::uint64_t flagsForModifierMask(std::uint16_t state, std::uint16_t numLockMask) {
    std::uint64_t flags = 0;
    if (state & controlMask)
        flags |= HotkeyBinding::control;
    if (state & mod1Mask)
        flags |= HotkeyBinding::option;
    if (state & shiftMask)
        flags |= HotkeyBinding::shift;
    if (state & mod4Mask)
        flags |= HotkeyBinding::command;
    if (state & lockMask)
        flags |= alphaShiftFlag;
    if (numLockMask != 0 && (state & numLockMask))
        flags |= numericPadFlag;
    return flags;
}

} // namespace talvoro::x11keys
