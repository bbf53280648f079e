#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvoro {

// Token texts by id, read from lines of "text id" (split at the last space). "▁" marks the
// start of a word. The blank token is the highest id in the file.
class GigaAMVocabulary {
public:
    // Ids above this are taken for a damaged line, not for a vocabulary of millions.
    static constexpr std::int64_t largestId = 1 << 20;

    static GigaAMVocabulary parse(std::string_view text);

    const std::vector<std::string>& tokens() const { return tokens_; }
    std::int64_t blank() const { return blank_; }

    // Concatenated token texts with "▁" as a space, trimmed; unknown ids give nothing.
    std::string text(std::span<const std::int64_t> ids) const;

private:
    std::vector<std::string> tokens_;
    std::int64_t blank_ = 0;
};

// Drops white space and line breaks (ASCII and the Unicode spaces) at both ends.
std::string trimmedText(std::string_view text);

} // namespace talvoro
