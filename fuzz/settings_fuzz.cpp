#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/config.h"
#include "base/settings_file.h"

// Input: a settings file. The parser must keep every entry on one line with a trimmed key, and
// the settings read from the file must come out usable whatever it holds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& [key, value] : talvoro::SettingsFile::parse(text)) {
        if (key.find_first_of("\n=") != std::string::npos || value.find('\n') != std::string::npos)
            std::abort();
        if (!key.empty() && (key.front() == ' ' || key.back() == ' ' || key.back() == '\r'))
            std::abort();
    }

    // The entries as if they came from the environment: the same reading rules, no file I/O.
    const talvoro::Config config =
        talvoro::Config::fromSources(talvoro::SettingsFile::parse(text), {});
    for (const talvoro::HotkeyBinding& binding :
         {config.dictationHotkey, config.polishHotkey, config.rawPasteHotkey})
        if (talvoro::HotkeyBinding::parse(binding.description()) != binding)
            std::abort();
    for (const auto& [key, value] : config.values)
        if (const auto number = config.number(key); number && !std::isfinite(*number))
            std::abort();
    return 0;
}
