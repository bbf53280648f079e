#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/dictation_engine.h"
#include "base/hotkey_binding.h"

namespace talvoro {

// The settings, built once at start from the environment and one settings file.
// Keys that only the sibling tools use are kept in `values` and read on demand.
struct Config {
    // A pinned revision: a resumed transfer never splices two versions of a file.
    static constexpr const char* defaultModelSources =
        "https://huggingface.co/istupakov/gigaam-v3-onnx/resolve/"
        "322c3b29492673eb7d0b434bfa9dfb8653e34d02";

    HotkeyBinding dictationHotkey = HotkeyBinding::defaultBinding();
    // DICTATION_HOTKEY was set (environment or file): that combination is never replaced.
    bool dictationHotkeyChosen = false;
    HotkeyBinding polishHotkey{49, HotkeyBinding::shift | HotkeyBinding::option};
    HotkeyBinding rawPasteHotkey{9, HotkeyBinding::shift | HotkeyBinding::option};
    std::string dictationDir;
    // DICTATION_MICROPHONE: the sound server's name of the chosen source; empty follows the
    // server's default.
    std::string microphone;
    std::optional<std::string> dictationPrompt;
    DictationEngine dictationEngine = DictationEngine::server;
    bool polishEnabled = true;
    std::optional<std::string> polishStyleFile;
    std::optional<std::string> polishGlossaryFile;
    std::optional<std::string> polishModel;
    double polishTimeout = 6;
    bool polishThinking = false;
    bool streamEnabled = false;
    // Paste through a virtual keyboard of our own (/dev/uinput): works on every Wayland desktop,
    // but any program of the user could do the same with it, so the user opts in.
    bool uinputKeyboard = false;
    std::string modelDir;
    // Base addresses the model files are fetched from, tried in this order.
    std::vector<std::string> modelSources;
    std::string dictFile;
    std::optional<std::string> streamAuthToken;
    std::string streamKeychainService;

    // Every key from the environment and the file, the environment winning.
    std::map<std::string, std::string> values;
    // The keys of `values` the environment set: the settings window cannot change those.
    std::set<std::string> environmentKeys;

    // Never fails: missing or unreadable files leave the environment and the defaults.
    static Config load(const std::optional<std::string>& explicitPath);

    // The settings files tried in order; the first readable one counts.
    static std::vector<std::string> candidates(const std::optional<std::string>& explicitPath);
    static Config fromSources(const std::map<std::string, std::string>& environment,
                              const std::vector<std::string>& candidates);

    void limitToLocalOnly();

    static std::string expand(const std::string& path);

    // streamAuthToken when set, else the keychain entry of streamKeychainService.
    std::optional<std::string> streamToken() const;

    // Reading rules, for keys that have no field of their own.
    std::optional<std::string> text(const std::string& key) const;
    std::string string(const std::string& key, const std::string& fallback) const;
    bool flag(const std::string& key, const std::string& fallback) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<int> minutesOfDay(const std::string& key) const; // "HH:MM"

    static std::map<std::string, std::string> processEnvironment();
    static bool parseFlag(const std::string& text);
    static std::optional<double> parseNumber(const std::string& text);
    static std::optional<int> parseMinutesOfDay(const std::string& text);
};

} // namespace talvoro
