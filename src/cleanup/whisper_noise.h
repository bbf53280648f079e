#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace talvoro {

// Removes text that is not speech: stock sign-offs and subtitle credits, and bracketed
// sound descriptions, but only where such a phrase fills a whole segment.
namespace WhisperNoise {

// Empty when the whole text was noise.
std::string clean(const std::string& text);
bool isNoise(const QString& segment);

// The text cut at bracket and marker groups, each segment trimmed, empty ones dropped.
QStringList split(const QString& text);
// Lower case, "е" for "ё", letters and digits only, single spaces.
QString normalize(const QString& text);

} // namespace WhisperNoise

} // namespace talvoro
