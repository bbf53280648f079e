#pragma once

#include <QMenu>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ui/missing_permissions.h"
#include "ui/recent_dictations.h"

namespace talvoro {

// The tray menu, made afresh at every opening from what the host knows at that moment.
class DictationMenu {
public:
    struct Facts {
        std::string statusLine;
        std::optional<std::string> hotkeyNote;     // why a fallback hotkey is active
        std::optional<std::string> microphoneNote; // the chosen microphone is not there
        bool hasPresenter = false;
        std::optional<std::string> lastText;
        bool canPasteRaw = false;
        std::string rawHotkey;
        std::optional<std::string> polishNote;
        std::optional<std::string> insertNote;
        MissingPermissions missing;
        std::string engineLine;
        bool modelMissing = false;
        bool downloading = false;
        bool importing = false; // a model is being copied from a folder
        bool hasDictionary = false;
        int samplePairs = 0;
        std::int64_t sampleBytes = 0;
        std::string versionLine;
        std::string sessionLine;                   // the way of each duty in this session
        std::optional<std::string> sessionBlocker; // why dictation cannot work here
        std::optional<bool> gnomeShortcut;         // GNOME only: whether ours is bound
        std::vector<RecentDictations::Entry> recent;
    };

    struct Actions {
        std::function<void()> pasteLast;
        std::function<void()> pasteRaw;
        std::function<void()> openDictionary;
        std::function<void()> collectSamples;
        std::function<void()> downloadModel;
        std::function<void()> importModel;
        std::function<void()> openSettings;
        std::function<void(const std::string&)> copyText; // a recent dictation to the clipboard
        std::function<void()> clearRecent;
        std::function<QAction*(QObject* parent)> autostart; // the checkable login item
        std::function<void()> quit;
        std::function<void()> gnomeShortcut; // binds ours, or takes it away again
    };

    // Empties the menu and fills it in the order the user reads it.
    static void fill(QMenu& menu, const Facts& facts, const Actions& actions);

    // The engine line: downloading, ready, present but not loadable, or not there yet.
    static std::string engineLine(std::optional<double> downloadShare, bool modelUsable,
                                  const std::string& modelVersion,
                                  const std::optional<std::string>& loadError = std::nullopt);
    // "версия 0.1.0 (12)".
    static std::string versionLine();
    // "1,5 МБ", as a file manager writes sizes.
    static std::string byteCount(std::int64_t bytes);
};

} // namespace talvoro
