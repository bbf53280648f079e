#include "base/settings_writer.h"

#include <fstream>
#include <set>
#include <string_view>
#include <vector>

#include "base/private_file.h"
#include "base/settings_file.h"

namespace talvoro::SettingsWriter {

namespace {

using SettingsFile::trimmed;

// The key a line sets, as the reader sees it; empty for comments and other lines.
std::string keyOf(std::string_view line) {
    if (line.substr(0, 3) == "\xEF\xBB\xBF")
        line.remove_prefix(3);
    line = trimmed(line);
    if (line.empty() || line.front() == '#')
        return {};
    const size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string{} : std::string(trimmed(line.substr(0, eq)));
}

// Quoted when the reader would otherwise trim it or take its own quotes away.
std::string written(const std::string& key, const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos ||
        key.find_first_of("\r\n=#") != std::string::npos)
        throw PrivateFileError("в настройке " + key + " не может быть перевода строки");
    const bool quoted = !value.empty() &&
                        (trimmed(value) != value || value.front() == '"' || value.front() == '\'');
    return key + "=" + (quoted ? "\"" + value + "\"" : value);
}

} // namespace

std::string apply(const std::string& text, const Changes& changes) {
    const bool crlf = text.find("\r\n") != std::string::npos;
    const std::string end = crlf ? "\r\n" : "\n";
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t lf = text.find('\n', at);
        lines.push_back(text.substr(at, lf == std::string::npos ? std::string::npos : lf + 1 - at));
        at = lf == std::string::npos ? text.size() : lf + 1;
    }
    std::string out;
    std::set<std::string> done;
    for (const std::string& line : lines) {
        const std::string key = keyOf(line);
        const auto change = changes.find(key);
        if (key.empty() || change == changes.end()) {
            out += line;
            continue;
        }
        if (!change->second || !done.insert(key).second)
            continue; // removed, or a repeat the reader would have let win
        const bool bom = line.rfind("\xEF\xBB\xBF", 0) == 0;
        out += (bom ? "\xEF\xBB\xBF" : "") + written(key, *change->second) + end;
    }
    for (const auto& [key, value] : changes) {
        if (!value || done.count(key))
            continue;
        if (!out.empty() && out.back() != '\n')
            out += end;
        out += written(key, *value) + end;
    }
    return out;
}

void update(const std::string& path, const Changes& changes) {
    std::string text;
    if (std::ifstream in(path, std::ios::binary); in)
        text.assign(std::istreambuf_iterator<char>(in), {});
    PrivateFile::replace(path, SettingsWriter::apply(text, changes));
}

} // namespace talvoro::SettingsWriter
