#include "base/hotkey_binding.h"

#include <QString>
#include <QStringList>

#include "base/key_table.h"

namespace talvoro {

const std::vector<std::pair<std::string, std::uint16_t>>& HotkeyBinding::keyCodes() {
    static const std::vector<std::pair<std::string, std::uint16_t>> names = [] {
        std::vector<std::pair<std::string, std::uint16_t>> list;
        for (const KeyInfo& key : keyTable())
            if (!key.name.empty())
                list.emplace_back(std::string(key.name), key.code);
        return list;
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
    if (word == "cmd" || word == "command" || word == "meta" || word == "super")
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
    for (const KeyInfo& key : keyTable())
        if (key.name == name ||
            QString::fromUtf8(key.label.data(), key.label.size()).toLower() == piece)
            return key.code;
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

const std::vector<HotkeyBinding>& HotkeyBinding::firstStartFallbacks() {
    static const std::vector<HotkeyBinding> list{
        HotkeyBinding(49, control | option),
        HotkeyBinding(49, option | command),
        HotkeyBinding(49, control | command),
    };
    return list;
}

std::string HotkeyBinding::description() const {
    std::string out;
    for (auto [flag, label] : {std::pair{control, "Ctrl+"}, std::pair{option, "Alt+"},
                               std::pair{shift, "Shift+"}, std::pair{command, "Super+"}})
        if (modifiers & flag)
            out += label;
    const KeyInfo* key = findKey(keyCode);
    out += key != nullptr ? std::string(key->label) : "key" + std::to_string(keyCode);
    return out;
}

} // namespace talvoro
