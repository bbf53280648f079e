#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace talvoro {

// Text helpers that count and classify the way a reader sees the text: characters are
// extended grapheme clusters, classes are Unicode general categories.
namespace UnicodeText {

QString fromUTF8(std::string_view text);
std::string toUTF8(const QString& text);

qsizetype characterCount(const QString& text);
// The first `count` characters of a UTF-8 text.
std::string firstCharacters(std::string_view text, int count);

// Spaces (Zs) and tabs.
bool isBlank(char32_t c);
// Letters, marks and digits.
bool isAlphanumeric(char32_t c);

// Removes spaces and tabs from both ends.
QString trimmedBlanks(const QString& text);

} // namespace UnicodeText

} // namespace talvoro
