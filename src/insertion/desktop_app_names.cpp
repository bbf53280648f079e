#include "insertion/desktop_app_names.h"

#include <QString>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace talvoro {

namespace {

std::string lower(const std::string& text) {
    return QString::fromStdString(text).toLower().toStdString();
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// "ru_RU.UTF-8" → {"ru_RU", "ru"}: the Name[…] keys to try before plain Name.
std::vector<std::string> languageKeys() {
    std::string locale = environment("LC_ALL");
    if (locale.empty())
        locale = environment("LC_MESSAGES");
    if (locale.empty())
        locale = environment("LANG");
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX")
        return {};
    std::vector<std::string> keys{"Name[" + locale + "]"};
    if (std::size_t underscore = locale.find('_'); underscore != std::string::npos)
        keys.push_back("Name[" + locale.substr(0, underscore) + "]");
    return keys;
}

struct Entry {
    std::map<std::string, std::string> keys; // of the [Desktop Entry] group
};

std::optional<Entry> readEntry(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    Entry entry;
    bool inMainGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            if (inMainGroup)
                break;
            inMainGroup = line.rfind("[Desktop Entry]", 0) == 0;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        std::size_t start = line.find_first_not_of(' ', equals + 1);
        entry.keys.emplace(key, start == std::string::npos ? "" : line.substr(start));
    }
    if (entry.keys["Hidden"] == "true")
        return std::nullopt;
    return entry;
}

std::optional<std::string> nameOf(Entry& entry, const std::vector<std::string>& languages) {
    for (const std::string& key : languages)
        if (auto found = entry.keys.find(key); found != entry.keys.end() && !found->second.empty())
            return found->second;
    if (auto found = entry.keys.find("Name"); found != entry.keys.end() && !found->second.empty())
        return found->second;
    return std::nullopt;
}

} // namespace

std::vector<std::filesystem::path> DesktopAppNames::standardFolders() {
    std::vector<std::filesystem::path> folders;
    std::string home = environment("XDG_DATA_HOME");
    if (home.empty() && !environment("HOME").empty())
        home = environment("HOME") + "/.local/share";
    if (!home.empty())
        folders.emplace_back(std::filesystem::path(home) / "applications");
    std::string dirs = environment("XDG_DATA_DIRS");
    if (dirs.empty())
        dirs = "/usr/local/share:/usr/share";
    std::stringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');)
        if (!dir.empty())
            folders.emplace_back(std::filesystem::path(dir) / "applications");
    return folders;
}

DesktopAppNames::DesktopAppNames(std::vector<std::filesystem::path> folders)
    : folders(std::move(folders)) {}

void DesktopAppNames::index() {
    const std::vector<std::string> languages = languageKeys();
    for (const auto& folder : folders) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator files(folder, error), end;
        for (; !error && files != end; files.increment(error)) {
            const std::filesystem::path& file = files->path();
            if (file.extension() != ".desktop")
                continue;
            std::optional<Entry> entry = readEntry(file);
            std::optional<std::string> name = entry ? nameOf(*entry, languages) : std::nullopt;
            if (!name)
                continue;
            // Earlier folders win, as the data directories rank them.
            if (std::string wmClass = entry->keys["StartupWMClass"]; !wmClass.empty())
                byWmClass.emplace(lower(wmClass), *name);
            const std::string stem = lower(file.stem().string());
            byFileName.emplace(stem, *name);
            if (std::size_t dot = stem.rfind('.'); dot != std::string::npos)
                byLastPart.emplace(stem.substr(dot + 1), *name);
        }
    }
}

std::optional<std::string> DesktopAppNames::nameFor(const std::string& windowClass) {
    if (windowClass.empty())
        return std::nullopt;
    std::lock_guard guard(lock);
    if (!indexed) {
        index();
        indexed = true;
    }
    const std::string key = lower(windowClass);
    if (auto found = byWmClass.find(key); found != byWmClass.end())
        return found->second;
    if (auto found = byFileName.find(key); found != byFileName.end())
        return found->second;
    if (auto found = byLastPart.find(key); found != byLastPart.end())
        return found->second;
    return std::nullopt;
}

} // namespace talvoro
