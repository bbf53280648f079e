#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/hotkey_binding.h"
#include "base/settings_file.h"

// Input: a hotkey text. Whatever reads as a binding must be described in a form that reads back
// as the same binding, in UTF-8.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto binding = talvoro::HotkeyBinding::parse(text);
    if (!binding)
        return 0;
    if ((binding->modifiers & ~talvoro::HotkeyBinding::relevantMask) != 0)
        std::abort();
    const std::string shown = binding->description();
    if (!talvoro::SettingsFile::isValidUTF8(shown) ||
        talvoro::HotkeyBinding::parse(shown) != binding)
        std::abort();
    return 0;
}
