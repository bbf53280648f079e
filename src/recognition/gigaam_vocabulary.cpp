#include "recognition/gigaam_vocabulary.h"

#include <charconv>
#include <map>

namespace talvoro {

namespace {

constexpr std::string_view wordMark = "\u2581";

bool parseId(std::string_view digits, std::int64_t& id) {
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    if (digits.empty())
        return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    return error == std::errc() && end == digits.data() + digits.size() && id >= 0 &&
           id <= GigaAMVocabulary::largestId;
}

// The length of the white space (or line break) that ends or starts text, 0 when none.
std::size_t spaceAtStart(std::string_view text) {
    static constexpr std::string_view wide[] = {"\u00a0", "\u1680", "\u2000", "\u2001", "\u2002",
                                                "\u2003", "\u2004", "\u2005", "\u2006", "\u2007",
                                                "\u2008", "\u2009", "\u200a", "\u2028", "\u2029",
                                                "\u202f", "\u205f", "\u3000", "\u0085"};
    if (text.empty())
        return 0;
    if (std::string_view(" \t\n\v\f\r").find(text.front()) != std::string_view::npos)
        return 1;
    for (const auto space : wide)
        if (text.starts_with(space))
            return space.size();
    return 0;
}

std::size_t spaceAtEnd(std::string_view text) {
    for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length)
        if (spaceAtStart(text.substr(text.size() - length)) == length)
            return length;
    return 0;
}

} // namespace

std::string trimmedText(std::string_view text) {
    while (const std::size_t n = spaceAtStart(text))
        text.remove_prefix(n);
    while (const std::size_t n = spaceAtEnd(text))
        text.remove_suffix(n);
    return std::string(text);
}

GigaAMVocabulary GigaAMVocabulary::parse(std::string_view text) {
    std::map<std::int64_t, std::string> byId;
    // Files written on other systems: a byte-order mark and CRLF line ends.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::size_t space = line.rfind(' ');
        std::int64_t id = 0;
        if (space == std::string_view::npos || !parseId(line.substr(space + 1), id))
            continue;
        byId[id] = std::string(line.substr(0, space));
    }
    GigaAMVocabulary vocabulary;
    vocabulary.blank_ = byId.empty() ? 0 : byId.rbegin()->first;
    vocabulary.tokens_.resize(static_cast<std::size_t>(vocabulary.blank_) + 1);
    for (auto& [id, token] : byId)
        vocabulary.tokens_[static_cast<std::size_t>(id)] = std::move(token);
    return vocabulary;
}

std::string GigaAMVocabulary::text(std::span<const std::int64_t> ids) const {
    std::string joined;
    for (const std::int64_t id : ids) {
        if (id < 0 || static_cast<std::size_t>(id) >= tokens_.size())
            continue;
        std::string_view token = tokens_[static_cast<std::size_t>(id)];
        for (std::size_t mark; (mark = token.find(wordMark)) != std::string_view::npos;) {
            joined.append(token.substr(0, mark)).push_back(' ');
            token.remove_prefix(mark + wordMark.size());
        }
        joined.append(token);
    }
    return trimmedText(joined);
}

} // namespace talvoro
