#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvoro {

// A key code plus modifier flags. Codes and flags are the settings' own syntax
// (ANSI virtual key codes and a 64-bit event flag word), whatever the desktop.
struct HotkeyBinding {
    static constexpr std::uint64_t control = 0x40000;
    static constexpr std::uint64_t option = 0x80000;
    static constexpr std::uint64_t shift = 0x20000;
    static constexpr std::uint64_t command = 0x100000;
    static constexpr std::uint64_t relevantMask = 0x1E0000;

    std::uint16_t keyCode = 49;
    std::uint64_t modifiers = option; // only bits of relevantMask

    HotkeyBinding() = default;
    HotkeyBinding(std::uint16_t code, std::uint64_t flags)
        : keyCode(code), modifiers(flags & relevantMask) {}

    // opt+space, shown as Alt+Space.
    static HotkeyBinding defaultBinding() { return HotkeyBinding(49, option); }

    // Tried in this order when the user chose no hotkey and the desktop holds the default (GNOME,
    // KDE Plasma, Xfce, Cinnamon and MATE bind Alt+Space): combinations none of them binds.
    static const std::vector<HotkeyBinding>& firstStartFallbacks();

    // Reads "opt+space", "⌥Space", "Alt+Space", "ctrl+shift+f", "cmd+key105", "esc"; nothing
    // when unreadable. Every description() reads back.
    static std::optional<HotkeyBinding> parse(std::string_view text);

    bool matches(std::uint16_t code, std::uint64_t flags) const {
        return code == keyCode && (flags & relevantMask) == modifiers;
    }
    // As a PC keyboard labels it: modifiers in the order Ctrl, Alt, Shift, Super, then the key,
    // joined with "+" ("Alt+Space", "Ctrl+Shift+V").
    std::string description() const;

    // Lower-case settings name → key code, in the order they are listed.
    static const std::vector<std::pair<std::string, std::uint16_t>>& keyCodes();

    bool operator==(const HotkeyBinding&) const = default;
};

} // namespace talvoro
