#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_sources.h"
#include "base/config.h"
#include "ui/autostart.h"
#include "ui/dictionary_document.h"
#include "ui/hotkey_field.h"
#include "ui/microphone_meter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace talvoro {

// The settings window: the dictation hotkey, the microphone with a live level, the replacement
// dictionary, starting at login, the model and the folders. Every change is written to the
// settings file (or the dictionary) at once and the running program is told to re-read it.
// Keys the environment sets are shown and cannot be changed here. Main thread only.
class SettingsWindow : public QWidget {
public:
    struct Options {
        std::string settingsPath;
        std::function<Config()> config;        // the settings in force
        std::function<HotkeyBinding()> hotkey; // the active one; config's when empty
        std::function<std::optional<std::string>()> hotkeyNote; // why a fallback is active
        std::function<void()> settingsWritten;                  // the running program re-reads them
        std::shared_ptr<AudioSources> sources;                  // PulseAudio's when empty
        MicrophoneMeter::CaptureFactory meterCapture;
        HotkeyField::Judge hotkeyJudge; // grabs the combination for a moment when empty
        std::function<std::string()> modelLine;
        std::function<bool()> modelMissing; // offers "Скачать"
        std::function<void()> download;
        std::optional<Autostart> autostart; // this user's when empty
    };

    explicit SettingsWindow(Options options, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // Reads everything afresh: the settings, the sources, the dictionary, the model.
    void refresh();

    // For tests and screenshots.
    HotkeyField* hotkeyField() const { return hotkey_; }
    QComboBox* microphoneList() const { return microphone_; }
    QTableWidget* dictionaryTable() const { return dictionary_; }
    QProgressBar* levelBar() const { return level_; }
    std::string problem() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeHotkeyRow();
    QWidget* makeMicrophoneRow();
    QWidget* makeDictionaryRow();
    QWidget* makeBottomRows();
    void write(const std::string& key, const std::optional<std::string>& value);
    void fillSources();
    void microphoneChosen(int index);
    void fillDictionary();
    void saveDictionary();
    void tick();
    void say(const std::string& problem);
    Config config() const;

    Options options_;
    HotkeyField* hotkey_ = nullptr;
    QLabel* hotkeyNote_ = nullptr;
    QComboBox* microphone_ = nullptr;
    QLabel* microphoneNote_ = nullptr;
    QProgressBar* level_ = nullptr;
    QTableWidget* dictionary_ = nullptr;
    QCheckBox* autostart_ = nullptr;
    QLabel* model_ = nullptr;
    QPushButton* download_ = nullptr;
    QLabel* problem_ = nullptr;
    MicrophoneMeter meter_;
    std::optional<AudioSourceList> shownSources_;
    std::string listening_; // the source the meter hears
    DictionaryDocument document_;
    std::string dictionaryPath_;
    bool filling_ = false; // the table is being filled, not edited
    QTimer meterTick_;
    QTimer refreshTick_;
};

} // namespace talvoro
