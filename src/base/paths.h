#pragma once

#include <string>
#include <vector>

namespace talvoro {

// The program's folders, each computed once per process on first use, after a one-time
// move from the older product's location.
class Paths {
public:
    static const std::string& state();
    static const std::string& config();
    static const std::string& support();
    static const std::string& legacyConfig();

    static std::string state(const std::string& name) { return state() + "/" + name; }
    static std::string config(const std::string& name) { return config() + "/" + name; }
    static std::string support(const std::string& name) { return support() + "/" + name; }

    // Uses newPath when something is there; else moves oldPath to newPath and leaves a
    // symbolic link behind; else creates newPath. Falls back to oldPath when the move fails.
    static std::string migrated(const std::string& newPath, const std::string& oldPath);

    // The running program and its folder, from /proc/self/exe; empty when unknown.
    static std::string executable();
    static std::string executableFolder();
    // Where the program's own data (models, the settings resource) may be, best first:
    // share/talvoro beside the executable's folder (an install, wherever its prefix now is),
    // then inside it (a build tree).
    static std::vector<std::string> dataFolders(const std::string& executableFolder);
    static std::vector<std::string> dataFolders() { return dataFolders(executableFolder()); }

    static std::string home();
    // $name when it holds an absolute path, else home + fallback.
    static std::string xdg(const char* name, const char* fallback);
};

// Creates the folder and its parents with owner-only access for the new ones.
bool makePrivateFolder(const std::string& path);

} // namespace talvoro
