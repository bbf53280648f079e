#include "app/hotkey_binding.h"

#include <QString>
#include <QStringList>

namespace talvoro {

const std::vector<std::pair<std::string, std::uint16_t>>& HotkeyBinding::keyCodes() {
    static const std::vector<std::pair<std::string, std::uint16_t>> table = {
        {"a", 0},      {"s", 1},    {"d", 2},      {"f", 3},       {"h", 4},       {"g", 5},
        {"z", 6},      {"x", 7},    {"c", 8},      {"v", 9},       {"b", 11},      {"q", 12},
        {"w", 13},     {"e", 14},   {"r", 15},     {"y", 16},      {"t", 17},      {"o", 31},
        {"u", 32},     {"i", 34},   {"p", 35},     {"l", 37},      {"j", 38},      {"k", 40},
        {"n", 45},     {"m", 46},   {"1", 18},     {"2", 19},      {"3", 20},      {"4", 21},
        {"6", 22},     {"5", 23},   {"9", 25},     {"7", 26},      {"8", 28},      {"0", 29},
        {"=", 24},     {"-", 27},   {"]", 30},     {"[", 33},      {"'", 39},      {";", 41},
        {"\\", 42},    {",", 43},   {"/", 44},     {".", 47},      {"`", 50},      {"return", 36},
        {"enter", 36}, {"tab", 48}, {"space", 49}, {"delete", 51}, {"escape", 53}, {"esc", 53},
        {"f1", 122},   {"f2", 120}, {"f3", 99},    {"f4", 118},    {"f5", 96},     {"f6", 97},
        {"f7", 98},    {"f8", 100}, {"f9", 101},   {"f10", 109},   {"f11", 103},   {"f12", 111},
    };
    return table;
}

const std::map<std::uint16_t, std::string>& HotkeyBinding::keyNames() {
    static const std::map<std::uint16_t, std::string> names = [] {
        std::map<std::uint16_t, std::string> m;
        for (const auto& [name, code] : keyCodes()) {
            std::string shown = name;
            if (shown.size() == 1)
                shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
            m[code] = shown;
        }
        m[49] = "Space";
        m[36] = "Return";
        m[48] = "Tab";
        m[53] = "Esc";
        return m;
    }();
    return names;
}

namespace {

bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return u == '\n' || u == '\r' || u == 0x0B || u == 0x0C || u == 0x85 || u == 0x2028 ||
           u == 0x2029;
}

QString trimmedKeepingLineBreaks(const QString& s) {
    qsizetype begin = 0, end = s.size();
    while (begin < end && s[begin].isSpace() && !isLineBreak(s[begin]))
        ++begin;
    while (end > begin && s[end - 1].isSpace() && !isLineBreak(s[end - 1]))
        --end;
    return s.mid(begin, end - begin);
}

std::optional<std::uint64_t> modifierFlag(const QString& word) {
    if (word == "ctrl" || word == "control")
        return HotkeyBinding::control;
    if (word == "opt" || word == "alt" || word == "option")
        return HotkeyBinding::option;
    if (word == "shift")
        return HotkeyBinding::shift;
    if (word == "cmd" || word == "command" || word == "meta")
        return HotkeyBinding::command;
    return std::nullopt;
}

std::optional<std::uint16_t> keyFromPiece(const QString& piece) {
    if (piece.startsWith("key") && piece.size() > 3) {
        QString digits = piece.mid(3);
        bool allDigits = true;
        for (QChar c : digits)
            allDigits = allDigits && c >= '0' && c <= '9';
        if (allDigits) {
            bool ok = false;
            uint value = digits.toUInt(&ok);
            if (ok && value <= 0xFFFF)
                return static_cast<std::uint16_t>(value);
            return std::nullopt;
        }
    }
    const std::string name = piece.toStdString();
    for (const auto& [known, code] : HotkeyBinding::keyCodes())
        if (known == name)
            return code;
    return std::nullopt;
}

} // namespace

std::optional<HotkeyBinding> HotkeyBinding::parse(std::string_view text) {
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("⌃"), "ctrl+");
    s.replace(QStringLiteral("⌥"), "opt+");
    s.replace(QStringLiteral("⇧"), "shift+");
    s.replace(QStringLiteral("⌘"), "cmd+");

    std::uint64_t flags = 0;
    std::optional<std::uint16_t> key;
    bool anyPiece = false;
    for (const QString& raw : s.split('+', Qt::SkipEmptyParts)) {
        QString piece = trimmedKeepingLineBreaks(raw).toLower();
        if (piece.isEmpty())
            continue;
        anyPiece = true;
        if (auto flag = modifierFlag(piece)) {
            flags |= *flag;
            continue;
        }
        if (key)
            return std::nullopt;
        key = keyFromPiece(piece);
        if (!key)
            return std::nullopt;
    }
    if (!anyPiece || !key)
        return std::nullopt;
    return HotkeyBinding(*key, flags);
}

std::string HotkeyBinding::description() const {
    std::string out;
    if (modifiers & control)
        out += "⌃";
    if (modifiers & option)
        out += "⌥";
    if (modifiers & shift)
        out += "⇧";
    if (modifiers & command)
        out += "⌘";
    const auto& names = keyNames();
    auto it = names.find(keyCode);
    out += it != names.end() ? it->second : "key" + std::to_string(keyCode);
    return out;
}

} // namespace talvoro
