#pragma once

#include <map>
#include <string>

namespace talvoro {

// The files of a zip archive by name, unpacked (stored or deflated entries). Throws
// std::runtime_error when the file is not a zip archive this reader understands.
std::map<std::string, std::string> zipEntries(const std::string& path);

} // namespace talvoro
