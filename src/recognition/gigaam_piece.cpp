#include "recognition/gigaam_piece.h"

#include <QString>

namespace talvoro {

std::optional<GigaAMCut> edge(const std::vector<GigaAMPiece>& pieces) {
    std::string text;
    std::optional<std::int64_t> upTo;
    for (const auto& piece : pieces) {
        if (!piece.isWhole)
            continue;
        if (upTo)
            text += ' ';
        text += piece.text;
        upTo = piece.upTo;
    }
    if (!upTo)
        return std::nullopt;
    // Unicode white space and line breaks at both ends go, as everywhere texts are joined.
    std::string trimmed = QString::fromStdString(text).trimmed().toStdString();
    if (trimmed.empty())
        return std::nullopt;
    return GigaAMCut{std::move(trimmed), *upTo};
}

} // namespace talvoro
