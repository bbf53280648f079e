#pragma once

#include <map>
#include <optional>
#include <string>

#include "base/private_file.h"

namespace talvoro {

// Changes keys of a KEY=value settings file the way a careful hand would: the line of a key
// gets its new value, a key set to nothing loses its lines, new keys go at the end, and every
// other line (comments, keys it does not know, blank lines) stays byte for byte. The file is
// replaced as a whole (PrivateFile); a file with CR LF line ends keeps them.
namespace SettingsWriter {

using Changes = std::map<std::string, std::optional<std::string>>;

// The text with the changes made; a value with a line break is refused (PrivateFileError).
std::string apply(const std::string& text, const Changes& changes);

void update(const std::string& path, const Changes& changes);

} // namespace SettingsWriter

} // namespace talvoro
