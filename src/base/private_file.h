#pragma once

#include <stdexcept>
#include <string>

namespace talvoro {

// A file could not be written; what() says which and why, in the user's words.
class PrivateFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace PrivateFile {

// Replaces the file's whole text the way no reader sees half of it: written beside, synced,
// then renamed over, readable by its owner only. Missing folders are made (0700); a link
// stays a link and its target changes.
void replace(const std::string& path, const std::string& text);

} // namespace PrivateFile

} // namespace talvoro
