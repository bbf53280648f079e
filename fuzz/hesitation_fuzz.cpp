#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/settings_file.h"
#include "cleanup/hesitation.h"
#include "cleanup/whisper_noise.h"

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
    if (talvoro::Hesitation::clean(cleaned) != cleaned)
        std::abort();
    return 0;
}
