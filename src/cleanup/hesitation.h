#pragma once

#include <QString>
#include <string>

namespace talvoro {

// Removes hesitation sounds ("э-э", "м-м-м") from recognised text, keeping the sentence
// punctuation they carried and leaving hyphenated words alone.
namespace Hesitation {

std::string clean(const std::string& text);
QString clean(const QString& text);

bool isMumble(const std::string& word);
bool isMumble(const QString& word);

} // namespace Hesitation

} // namespace talvoro
