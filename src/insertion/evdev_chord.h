#pragma once

#include <array>
#include <cstdint>

#include "insertion/paste_keystroke.h"

namespace talvoro::evdev {

// Linux input key codes (linux/input-event-codes.h): the keys themselves, whatever the layout.
inline constexpr std::uint32_t leftCtrl = 29;
inline constexpr std::uint32_t leftShift = 42;
inline constexpr std::uint32_t v = 47;
inline constexpr std::uint32_t insert = 110;

struct KeyStep {
    std::uint32_t code;
    bool pressed;
    bool operator==(const KeyStep&) const = default;
};

// The paste shortcut as four steps: modifier down, key down, key up, modifier up.
inline std::array<KeyStep, 4> chord(PasteShortcut shortcut) {
    const bool terminal = shortcut == PasteShortcut::shiftInsert;
    const std::uint32_t modifier = terminal ? leftShift : leftCtrl;
    const std::uint32_t key = terminal ? insert : v;
    return {{{modifier, true}, {key, true}, {key, false}, {modifier, false}}};
}

} // namespace talvoro::evdev
