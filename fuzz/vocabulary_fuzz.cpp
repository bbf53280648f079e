#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/settings_file.h"
#include "recognition/gigaam_vocabulary.h"

// Input: a vocabulary file; its bytes are also read back as token ids. Ids stay bounded, the
// blank is a known token, and a text made from UTF-8 tokens is UTF-8.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto vocabulary = talvoro::GigaAMVocabulary::parse(text);
    const auto& tokens = vocabulary.tokens();
    if (tokens.size() > static_cast<std::size_t>(talvoro::GigaAMVocabulary::largestId) + 1)
        std::abort();
    if (!tokens.empty() &&
        (vocabulary.blank() < 0 || static_cast<std::size_t>(vocabulary.blank()) >= tokens.size()))
        std::abort();

    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < size; ++i)
        ids.push_back(static_cast<std::int64_t>(data[i]) - 8);
    const std::string out = vocabulary.text(ids);
    if (talvoro::SettingsFile::isValidUTF8(text) && !talvoro::SettingsFile::isValidUTF8(out))
        std::abort();
    return 0;
}
