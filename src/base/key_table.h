#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace talvoro {

// One key of the hotkey syntax: its code (ANSI virtual key codes, the settings' own numbering),
// the X keysym that key produces, the lower-case name the settings file may use (empty for
// keys reachable only as "keyNNN"), and the label a PC keyboard prints on it.
struct KeyInfo {
    std::uint16_t code;
    std::uint32_t keysym;
    std::string_view name;
    std::string_view label;
};

// Every key, in the order the settings names are listed; a code may appear under several names.
const std::vector<KeyInfo>& keyTable();

// The first row for a code, or nothing.
const KeyInfo* findKey(std::uint16_t code);

} // namespace talvoro
