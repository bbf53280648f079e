#include "ui/autostart.h"

#include <QDir>
#include <QSaveFile>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "base/build_constants.h"
#include "base/paths.h"

namespace talvoro {

namespace fs = std::filesystem;

namespace {

const char* const entryName = "talvoro.desktop";
const char* const hiddenKey = "Hidden";
const char* const gnomeEnabledKey = "X-GNOME-Autostart-enabled";

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's lines, and for each the key it sets inside the [Desktop Entry] group.
struct EntryLine {
    std::string text;
    std::string key; // empty outside the group, for comments and for other lines
    std::string value;
};

std::vector<EntryLine> entryLines(const std::string& text) {
    std::vector<EntryLine> lines;
    std::istringstream in(text);
    bool inEntry = false;
    for (std::string line; std::getline(in, line);) {
        EntryLine entry{line, {}, {}};
        const std::string bare = trimmed(line);
        if (bare.starts_with('['))
            inEntry = bare == "[Desktop Entry]";
        else if (const size_t eq = bare.find('=');
                 inEntry && !bare.starts_with('#') && eq != std::string::npos) {
            entry.key = trimmed(bare.substr(0, eq));
            entry.value = trimmed(bare.substr(eq + 1));
        }
        lines.push_back(std::move(entry));
    }
    return lines;
}

bool switchedOff(const EntryLine& line) {
    return (line.key == hiddenKey && line.value == "true") ||
           (line.key == gnomeEnabledKey && line.value == "false");
}

// Escaped as every string value of an entry is.
std::string stringValue(const std::string& text) {
    std::string value;
    for (const char c : text) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

// One argument of an Exec line: quoted when it holds a reserved character, with % doubled,
// then escaped as a string.
std::string execArgument(const std::string& argument) {
    std::string quoted;
    if (argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) {
        quoted = argument;
    } else {
        quoted = "\"";
        for (const char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    }
    std::string doubled;
    for (const char c : quoted)
        doubled += c == '%' ? std::string("%%") : std::string(1, c);
    return stringValue(doubled);
}

// The program an Exec value names, undoing execArgument for a single argument; anything it
// gets wrong fails the exact comparison with our own entry that follows.
std::string execProgram(const std::string& value) {
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%') {
            unescaped += '%';
            ++i;
        } else if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            unescaped += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        } else {
            unescaped += value[i];
        }
    }
    if (!unescaped.starts_with('"'))
        return unescaped.substr(0, unescaped.find(' '));
    std::string program;
    for (size_t i = 1; i < unescaped.size() && unescaped[i] != '"'; ++i)
        program += unescaped[i] == '\\' && i + 1 < unescaped.size() ? unescaped[++i] : unescaped[i];
    return program;
}

} // namespace

Autostart::Autostart(std::string folder, std::string executable)
    : folder_(std::move(folder)), path_(folder_ + "/" + entryName),
      executable_(std::move(executable)) {}

Autostart Autostart::forThisUser() {
    return Autostart(Paths::xdg("XDG_CONFIG_HOME", "/.config") + "/autostart", Paths::executable());
}

std::string Autostart::entryText(const std::string& executable) {
    return std::string("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=") +
           appDisplayName +
           "\n"
           "Comment=Russian dictation recognised on this computer\n"
           "Comment[ru]=Диктовка по-русски с распознаванием на этом компьютере\n"
           "Exec=" +
           execArgument(executable) +
           "\n"
           // Once the program is gone (the package removed), the desktop skips the entry.
           "TryExec=" +
           stringValue(executable) +
           "\n"
           "Icon=talvoro\n"
           "Terminal=false\n"
           "StartupNotify=false\n"
           "X-GNOME-Autostart-enabled=true\n"
           "X-Talvoro-Autostart=true\n";
}

bool Autostart::isEnabled() const {
    const auto text = readText(path_);
    if (!text)
        return false;
    for (const EntryLine& line : entryLines(*text))
        if (switchedOff(line))
            return false;
    return true;
}

void Autostart::enable() const {
    const auto text = readText(path_);
    if (!text) {
        write(entryText(executable_));
        return;
    }
    std::string edited;
    bool changed = false;
    for (const EntryLine& line : entryLines(*text)) {
        if (switchedOff(line)) {
            edited += line.key + (line.key == hiddenKey ? "=false\n" : "=true\n");
            changed = true;
        } else {
            edited += line.text + "\n";
        }
    }
    if (changed)
        write(edited);
}

void Autostart::disable() const {
    std::error_code error;
    if (!fs::remove(path_, error) && error && error != std::errc::no_such_file_or_directory)
        throw AutostartError("не получилось выключить запуск при входе: " + path_ + " — " +
                             error.message());
}

void Autostart::refresh() const {
    const auto text = readText(path_);
    if (!text || *text == entryText(executable_))
        return;
    for (const EntryLine& line : entryLines(*text)) {
        if (line.key != "Exec")
            continue;
        const std::string program = execProgram(line.value);
        std::error_code error;
        if (*text == entryText(program) && !fs::exists(program, error))
            write(entryText(executable_));
        return;
    }
}

void Autostart::write(const std::string& text) const {
    auto failure = [&](const QString& reason) {
        return AutostartError("не получилось включить запуск при входе: " + path_ + " — " +
                              reason.toStdString());
    };
    if (!QDir().mkpath(QString::fromStdString(folder_)))
        throw failure(QStringLiteral("не создать папку"));
    QSaveFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::WriteOnly))
        throw failure(file.errorString());
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit())
        throw failure(file.errorString());
}

} // namespace talvoro
