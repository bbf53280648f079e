#include "base/paths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace talvoro {

std::string Paths::home() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string Paths::xdg(const char* name, const char* fallback) {
    if (const char* v = std::getenv(name); v && v[0] == '/')
        return v;
    return home() + fallback;
}

std::string Paths::executable() {
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : program.string();
}

std::string Paths::executableFolder() {
    return fs::path(executable()).parent_path().string();
}

std::vector<std::string> Paths::dataFolders(const std::string& executableFolder) {
    if (executableFolder.empty())
        return {};
    const fs::path here(executableFolder);
    return {(here.parent_path() / "share" / "talvoro").string(),
            (here / "share" / "talvoro").string()};
}

bool makePrivateFolder(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return true;
    fs::path p(path);
    if (p.has_parent_path() && p.parent_path() != p)
        makePrivateFolder(p.parent_path().string());
    return ::mkdir(path.c_str(), 0700) == 0 || fs::is_directory(path, ec);
}

std::string Paths::migrated(const std::string& newPath, const std::string& oldPath) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(newPath, ec)))
        return newPath;
    if (fs::exists(fs::symlink_status(oldPath, ec))) {
        fs::path parent = fs::path(newPath).parent_path();
        if (!parent.empty() && !makePrivateFolder(parent.string()))
            return oldPath;
        fs::rename(oldPath, newPath, ec);
        if (ec)
            return oldPath;
        fs::create_symlink(newPath, oldPath, ec);
        return newPath;
    }
    makePrivateFolder(newPath);
    return newPath;
}

namespace {
// $var/vendrik, moved once from $var/ostrel.
std::string productFolder(const char* var, const char* fallback) {
    const std::string base = Paths::xdg(var, fallback);
    return Paths::migrated(base + "/vendrik", base + "/ostrel");
}
} // namespace

const std::string& Paths::state() {
    static const std::string path = productFolder("XDG_STATE_HOME", "/.local/state");
    return path;
}

const std::string& Paths::config() {
    static const std::string path = productFolder("XDG_CONFIG_HOME", "/.config");
    return path;
}

const std::string& Paths::support() {
    static const std::string path = productFolder("XDG_DATA_HOME", "/.local/share");
    return path;
}

const std::string& Paths::legacyConfig() {
    static const std::string path = xdg("XDG_CONFIG_HOME", "/.config") + "/ostrel";
    return path;
}

} // namespace talvoro
