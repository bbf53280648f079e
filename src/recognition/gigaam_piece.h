#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvoro {

// The text the model gave for one window, and where that window ends in the samples that
// were decoded. isWhole is false for the window that runs to the end of those samples:
// more speech may still belong to it.
struct GigaAMPiece {
    std::string text;
    std::int64_t upTo = 0;
    bool isWhole = false;
};

// The finished part of a recognition: its text and the sample index it reaches.
struct GigaAMCut {
    std::string text;
    std::int64_t upTo = 0;
};

// The whole pieces' texts joined with spaces, up to the last whole piece; nothing when no
// piece is whole or their text is empty.
std::optional<GigaAMCut> edge(const std::vector<GigaAMPiece>& pieces);

} // namespace talvoro
