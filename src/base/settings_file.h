#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvoro {

// KEY=value lines shared with the sibling tools.
namespace SettingsFile {

// Largest settings file read; anything beyond is ignored up to the last whole line.
inline constexpr std::size_t maxBytes = 1024 * 1024;

std::map<std::string, std::string> parse(std::string_view text);

// The file's entries when it can be read and its text is UTF-8; nothing otherwise.
std::optional<std::map<std::string, std::string>> read(const std::string& path);

bool isValidUTF8(std::string_view text);

// A key or value as the reader takes it: blanks and a line's CR cut off both ends.
std::string_view trimmed(std::string_view s);

} // namespace SettingsFile

} // namespace talvoro
