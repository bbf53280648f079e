#include "base/config.h"

#include <charconv>
#include <cmath>

#include <QRegularExpression>
#include <QString>

#include "base/keychain.h"
#include "base/paths.h"
#include "base/settings_file.h"

extern char** environ;

namespace talvoro {

namespace {

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// [+-] digits [. digits] [e [+-] digits], with at least one digit before the exponent.
bool isDecimal(const std::string& s) {
    size_t i = 0;
    auto digits = [&] {
        size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i - start;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    size_t mantissa = digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == s.size();
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> list;
    for (const QString& word :
         QString::fromStdString(text).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        list.push_back(word.toStdString());
    return list;
}

} // namespace

std::map<std::string, std::string> Config::processEnvironment() {
    std::map<std::string, std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        size_t eq = entry.find('=');
        if (eq != std::string::npos)
            env.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return env;
}

std::string Config::expand(const std::string& path) {
    if (path == "~")
        return Paths::home();
    if (path.rfind("~/", 0) == 0)
        return Paths::home() + path.substr(1);
    return path;
}

bool Config::parseFlag(const std::string& text) {
    QString lower = QString::fromStdString(text).toLower();
    return lower == "1" || lower == "true" || lower == "yes" || lower == QStringLiteral("да") ||
           lower == "on";
}

std::optional<double> Config::parseNumber(const std::string& text) {
    if (!isDecimal(text))
        return std::nullopt;
    // from_chars ignores the locale (a Russian one reads "3.5" as 3) and refuses overflow.
    const char* first = text.data() + (text.front() == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> Config::parseMinutesOfDay(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
        return std::nullopt;
    auto part = [](const std::string& s) -> std::optional<int> {
        if (s.empty() || s.size() > 4 || s.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::stoi(s);
    };
    auto h = part(text.substr(0, colon));
    auto m = part(text.substr(colon + 1));
    if (!h || !m || *h > 23 || *m > 59)
        return std::nullopt;
    return *h * 60 + *m;
}

std::optional<std::string> Config::text(const std::string& key) const {
    auto it = values.find(key);
    if (it == values.end())
        return std::nullopt;
    std::string value = trimmed(it->second);
    if (value.empty())
        return std::nullopt;
    return value;
}

std::string Config::string(const std::string& key, const std::string& fallback) const {
    return text(key).value_or(fallback);
}

bool Config::flag(const std::string& key, const std::string& fallback) const {
    return parseFlag(string(key, fallback));
}

std::optional<double> Config::number(const std::string& key) const {
    auto value = text(key);
    return value ? parseNumber(*value) : std::nullopt;
}

std::optional<int> Config::minutesOfDay(const std::string& key) const {
    auto value = text(key);
    return value ? parseMinutesOfDay(*value) : std::nullopt;
}

std::vector<std::string> Config::candidates(const std::optional<std::string>& explicitPath) {
    std::vector<std::string> list;
    if (explicitPath)
        list.push_back(expand(*explicitPath));
    for (const std::string& data : Paths::dataFolders())
        list.push_back(data + "/dictation.env");
    list.push_back(".env");
    list.push_back(Paths::config(".env"));
    list.push_back(Paths::legacyConfig() + "/.env");
    return list;
}

Config Config::load(const std::optional<std::string>& explicitPath) {
    return fromSources(processEnvironment(), candidates(explicitPath));
}

Config Config::fromSources(const std::map<std::string, std::string>& environment,
                           const std::vector<std::string>& candidateFiles) {
    Config c;
    c.values = environment;
    for (const auto& [key, value] : environment)
        c.environmentKeys.insert(key);
    for (const auto& path : candidateFiles) {
        if (auto entries = SettingsFile::read(path)) {
            for (auto& [key, value] : *entries)
                c.values.emplace(key, value); // the environment keeps its keys
            break;
        }
    }

    auto hotkey = [&](const char* key, HotkeyBinding fallback) {
        auto value = c.text(key);
        auto parsed = value ? HotkeyBinding::parse(*value) : std::nullopt;
        return parsed.value_or(fallback);
    };
    c.dictationHotkey = hotkey("DICTATION_HOTKEY", c.dictationHotkey);
    c.dictationHotkeyChosen = c.text("DICTATION_HOTKEY").has_value();
    c.polishHotkey = hotkey("DICTATION_POLISH_HOTKEY", c.polishHotkey);
    c.rawPasteHotkey = hotkey("DICTATION_RAW_HOTKEY", c.rawPasteHotkey);
    c.dictationDir = expand(c.string("DICTATION_DIR", "~/Recordings/Dictation"));
    c.microphone = c.string("DICTATION_MICROPHONE", "");
    c.dictationPrompt = c.text("DICTATION_PROMPT");
    QString engine = QString::fromStdString(c.string("DICTATION_ENGINE", "server")).toLower();
    c.dictationEngine =
        dictationEngineFromRaw(engine.toStdString()).value_or(DictationEngine::server);
    c.polishEnabled = c.flag("DICTATION_POLISH_ENABLED", "1");
    c.polishStyleFile = c.text("DICTATION_STYLE_FILE");
    c.polishGlossaryFile = c.text("DICTATION_GLOSSARY_FILE");
    c.polishModel = c.text("DICTATION_POLISH_MODEL");
    c.polishTimeout = c.number("DICTATION_POLISH_TIMEOUT_SEC").value_or(6);
    c.polishThinking = c.flag("DICTATION_POLISH_THINKING", "0");
    c.streamEnabled = c.flag("STREAM_ENABLED", "0");
    c.uinputKeyboard = c.flag("DICTATION_UINPUT", "0");
    auto modelDir = c.text("MODEL_DIR");
    if (!modelDir)
        modelDir = c.text("WHISPER_MODEL_DIR");
    c.modelDir = modelDir ? expand(*modelDir) : Paths::support("models");
    c.modelSources = words(c.string("MODEL_SOURCES", defaultModelSources));
    auto dictFile = c.text("DICT_FILE");
    c.dictFile = dictFile ? expand(*dictFile) : Paths::config("замены.txt");
    c.streamAuthToken = c.text("STREAM_AUTH_TOKEN");
    c.streamKeychainService =
        c.string("STREAM_KEYCHAIN_SERVICE", c.string("VOICE_KEYCHAIN_SERVICE", "kestrow-key"));
    return c;
}

void Config::limitToLocalOnly() {
    dictationEngine = DictationEngine::local;
    streamEnabled = false;
    polishEnabled = false;
}

std::optional<std::string> Config::streamToken() const {
    if (streamAuthToken && !streamAuthToken->empty())
        return streamAuthToken;
    return Keychain::password(streamKeychainService);
}

} // namespace talvoro
