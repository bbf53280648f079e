#include "insertion/x11_selection_contents.h"

#include <algorithm>

namespace talvoro::x11 {

namespace {

// A plain-text target's answer for this text.
std::optional<Offer> encodeText(const std::string& target, const std::string& text) {
    if (target == "STRING") {
        auto latin1 = latin1FromUtf8(text);
        if (!latin1)
            return std::nullopt;
        return Offer{"STRING", 8, *latin1};
    }
    // TEXT leaves the encoding to the owner; UTF8_STRING is what current readers expect.
    const std::string type = target == "TEXT" ? "UTF8_STRING" : target;
    return Offer{type, 8, text};
}

std::vector<std::string> textTypes() {
    return {plainTextTypes.begin(), plainTextTypes.end()};
}

} // namespace

SelectionContents SelectionContents::item(const PasteboardItem& item,
                                          const TargetFormats& formats) {
    SelectionContents contents;
    for (const auto& [type, bytes] : item) {
        std::string offerType = type == "TEXT" ? "UTF8_STRING" : type;
        std::uint8_t offerFormat = 8;
        if (auto known = formats.find(type); known != formats.end()) {
            const auto [knownType, format] = known->second;
            if (format == 8 || (format == 16 && bytes.size() % 2 == 0) ||
                (format == 32 && bytes.size() % 4 == 0)) {
                offerType = knownType;
                offerFormat = format;
            }
        }
        Offer offer{std::move(offerType), offerFormat, bytes};
        auto same = std::find_if(contents.data.begin(), contents.data.end(),
                                 [&](const auto& entry) { return entry.first == type; });
        if (same != contents.data.end())
            same->second = std::move(offer);
        else
            contents.data.emplace_back(type, std::move(offer));
    }
    return contents;
}

SelectionContents SelectionContents::text(std::string text) {
    SelectionContents contents;
    contents.plain = std::move(text);
    return contents;
}

SelectionContents SelectionContents::promised(std::function<std::string(bool)> provide) {
    SelectionContents contents;
    contents.provide = std::move(provide);
    return contents;
}

std::vector<std::string> SelectionContents::types() const {
    if (provide) {
        auto types = textTypes();
        types.emplace_back(passwordHintType);
        return types;
    }
    if (plain) {
        auto types = textTypes();
        if (!latin1FromUtf8(*plain))
            types.erase(std::find(types.begin(), types.end(), "STRING"));
        types.emplace_back(passwordHintType);
        return types;
    }
    std::vector<std::string> types;
    for (const auto& entry : data)
        types.push_back(entry.first);
    return types;
}

std::optional<Offer> SelectionContents::offer(const std::string& target,
                                              bool afterKeystroke) const {
    if (provide || plain) {
        if (target == passwordHintType)
            return Offer{passwordHintType, 8, "secret"};
        if (!isPlainTextType(target))
            return std::nullopt;
        return encodeText(target, provide ? provide(afterKeystroke) : *plain);
    }
    for (const auto& [type, offer] : data)
        if (type == target)
            return offer;
    return std::nullopt;
}

bool isPlainTextType(const std::string& type) {
    return std::find(plainTextTypes.begin(), plainTextTypes.end(), type) != plainTextTypes.end();
}

std::optional<std::string> latin1FromUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
        } else if ((byte == 0xC2 || byte == 0xC3) && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            const auto next = static_cast<unsigned char>(text[++i]);
            out.push_back(static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F)));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::string utf8FromLatin1(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

} // namespace talvoro::x11
