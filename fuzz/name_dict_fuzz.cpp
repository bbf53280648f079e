#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/settings_file.h"
#include "cleanup/name_dict.h"

// Input: dictionary text, a NUL byte, then the text the dictionary is applied to.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string dictionary = input.substr(0, split);
    const std::string text = split == std::string::npos ? std::string() : input.substr(split + 1);

    const talvoro::NameDict dict(dictionary);
    for (const auto& rule : dict.rules())
        if (rule.from.isEmpty() || rule.to.isEmpty() || rule.from.trimmed() != rule.from)
            std::abort();
    const std::string out = dict.apply(text);
    if (dict.isEmpty() && out != text)
        std::abort();
    if (talvoro::SettingsFile::isValidUTF8(text) && !talvoro::SettingsFile::isValidUTF8(out))
        std::abort();
    return 0;
}
