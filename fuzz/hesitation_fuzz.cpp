#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/settings_file.h"
#include "cleanup/hesitation.h"
#include "cleanup/whisper_noise.h"

namespace {

// Line breaks stay inside words, so the final trim can bare a filler that sat before one
// ("э-э\n"); only texts without them are sure to come out of a second pass unchanged.
bool hasLineBreaks(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t')
            return true;
    return text.find("\xc2\x85") != std::string::npos ||
           text.find("\xe2\x80\xa8") != std::string::npos ||
           text.find("\xe2\x80\xa9") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string cleaned = talvoro::Hesitation::clean(text);
    talvoro::WhisperNoise::clean(text);
    if (!talvoro::SettingsFile::isValidUTF8(text))
        return 0;
    // Fillers only ever go away: nothing grows, runs of spaces collapse, and a second
    // pass finds nothing more to remove.
    if (cleaned.size() > text.size() || cleaned.find("  ") != std::string::npos)
        std::abort();
    if (!hasLineBreaks(text) && talvoro::Hesitation::clean(cleaned) != cleaned)
        std::abort();
    return 0;
}
