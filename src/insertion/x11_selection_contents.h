#pragma once

#include "insertion/pasteboard.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvoro::x11 {

// The bytes that answer one conversion request: property type (an atom name), format, value.
// The value is shared, so that answering a large item or sending it in pieces copies nothing.
struct Offer {
    Offer(std::string type, std::uint8_t format, std::string value)
        : type(std::move(type)), format(format),
          bytes(std::make_shared<const std::string>(std::move(value))) {}
    Offer(std::string type, std::uint8_t format, std::shared_ptr<const std::string> value)
        : type(std::move(type)), format(format), bytes(std::move(value)) {}

    std::string type;
    std::uint8_t format = 8;
    std::shared_ptr<const std::string> bytes;
};

// How a target's value was typed when we read it from another owner, so that putting it back
// serves it the same way (a TEXT target usually comes back as UTF8_STRING; some are 32-bit).
using TargetFormats = std::map<std::string, std::pair<std::string, std::uint8_t>>;

// What we serve while we own a selection: nothing, immediate items, plain text, or text that is
// produced only when a reader asks for it. Our own text, plain or promised, carries the
// password-manager hint.
class SelectionContents {
public:
    static SelectionContents nothing() { return {}; }
    static SelectionContents item(const PasteboardItem& item, const TargetFormats& formats);
    static SelectionContents text(std::string text);
    static SelectionContents promised(std::function<std::string(bool)> provide);

    // Our types in order, without TARGETS and TIMESTAMP.
    std::vector<std::string> types() const;
    // The answer for a target, or nothing to refuse it. Asking for a promised text target calls
    // the provider: that is a pull, made after the keystroke or not.
    std::optional<Offer> offer(const std::string& target, bool afterKeystroke = false) const;
    bool promisesText() const { return static_cast<bool>(provide); }

private:
    std::vector<std::pair<std::string, Offer>> data;
    std::optional<std::string> plain;
    std::function<std::string(bool)> provide;
};

bool isPlainTextType(const std::string& type);
// ISO 8859-1 for the STRING target; nothing when a character falls outside it.
std::optional<std::string> latin1FromUtf8(const std::string& text);
std::string utf8FromLatin1(const std::string& bytes);

inline constexpr const char* passwordHintType = "x-kde-passwordManagerHint";

} // namespace talvoro::x11
