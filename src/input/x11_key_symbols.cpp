#include "input/x11_key_symbols.h"

#include <array>
#include <utility>

#include "app/hotkey_binding.h"

namespace talvoro::x11keys {

namespace {

constexpr std::uint64_t alphaShiftFlag = 0x10000;
constexpr std::uint64_t numericPadFlag = 0x200000;

// ANSI virtual key code → keysym. Beyond the named keys of the settings syntax, the common
// keys of a full keyboard, so that "keyNNN" bindings for them work too.
constexpr std::array<std::pair<std::uint16_t, std::uint32_t>, 88> table = {{
    {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},      {4, 'h'},      {5, 'g'},
    {6, 'z'},      {7, 'x'},      {8, 'c'},      {9, 'v'},      {11, 'b'},     {12, 'q'},
    {13, 'w'},     {14, 'e'},     {15, 'r'},     {16, 'y'},     {17, 't'},     {31, 'o'},
    {32, 'u'},     {34, 'i'},     {35, 'p'},     {37, 'l'},     {38, 'j'},     {40, 'k'},
    {45, 'n'},     {46, 'm'},     {18, '1'},     {19, '2'},     {20, '3'},     {21, '4'},
    {22, '6'},     {23, '5'},     {25, '9'},     {26, '7'},     {28, '8'},     {29, '0'},
    {24, '='},     {27, '-'},     {30, ']'},     {33, '['},     {39, '\''},    {41, ';'},
    {42, '\\'},    {43, ','},     {44, '/'},     {47, '.'},     {50, '`'},     {36, 0xff0d},
    {48, 0xff09},  {49, ' '},     {51, 0xff08},  {53, 0xff1b},  {122, 0xffbe}, {120, 0xffbf},
    {99, 0xffc0},  {118, 0xffc1}, {96, 0xffc2},  {97, 0xffc3},  {98, 0xffc4},  {100, 0xffc5},
    {101, 0xffc6}, {109, 0xffc7}, {103, 0xffc8}, {111, 0xffc9}, {105, 0xffca}, {107, 0xffcb},
    {113, 0xffcc}, {106, 0xffcd}, {64, 0xffce},  {79, 0xffcf},  {80, 0xffd0},  {90, 0xffd1},
    {117, 0xffff}, {114, 0xff63}, {115, 0xff50}, {119, 0xff57}, {116, 0xff55}, {121, 0xff56},
    {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52}, {76, 0xff8d},  {65, 0xffae},
    {67, 0xffaa},  {69, 0xffab},  {75, 0xffaf},  {78, 0xffad},
}};
// Keypad digits 0…9 (key codes 82…92, 8 and 9 at 91 and 92).
constexpr std::array<std::uint16_t, 10> keypadDigits = {82, 83, 84, 85, 86, 87, 88, 89, 91, 92};

} // namespace

std::optional<std::uint32_t> keysymForKeyCode(std::uint16_t keyCode) {
    for (const auto& [code, keysym] : table)
        if (code == keyCode)
            return keysym;
    for (std::uint32_t digit = 0; digit < keypadDigits.size(); ++digit)
        if (keypadDigits[digit] == keyCode)
            return 0xffb0 + digit; // KP_0…KP_9
    return std::nullopt;
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
