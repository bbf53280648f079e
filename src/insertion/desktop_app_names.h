#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talvoro {

// Application names from desktop entries, found by window class: the entry whose
// StartupWMClass, or whose file name (also the last part of a reverse-DNS one, as in
// org.gnome.gedit), is the class without regard to case. The entry's Name in the user's
// language is preferred. The folders are read once, on the first lookup. Any thread.
class DesktopAppNames {
public:
    // The applications folders of $XDG_DATA_HOME and $XDG_DATA_DIRS, in that order.
    static std::vector<std::filesystem::path> standardFolders();

    explicit DesktopAppNames(std::vector<std::filesystem::path> folders = standardFolders());

    std::optional<std::string> nameFor(const std::string& windowClass);

private:
    void index();

    const std::vector<std::filesystem::path> folders;
    std::mutex lock;
    bool indexed = false;                          // guarded by lock
    std::map<std::string, std::string> byWmClass;  // guarded by lock; lower-case keys
    std::map<std::string, std::string> byFileName; // guarded by lock; lower-case keys
    std::map<std::string, std::string> byLastPart; // guarded by lock; lower-case keys
};

} // namespace talvoro
