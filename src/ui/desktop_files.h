#pragma once

#include <string>

namespace talvoro {

// Shows the file selected in the desktop's file manager (org.freedesktop.FileManager1 on the
// session bus), else opens its folder with xdg-open.
void revealInFileManager(const std::string& path);

// The replacement dictionary exists afterwards (made from its template when missing); false
// when it cannot be made.
bool ensureDictionaryFile(const std::string& path);

} // namespace talvoro
