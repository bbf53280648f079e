#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_sources.h"
#include "base/config.h"
#include "download/gigaam_download.h"
#include "ui/dictation_menu.h"
#include "ui/dictation_presenter.h"
#include "ui/menu_bar_icon.h"
#include "ui/settings_window.h"

namespace talvoro {

// Owns the presenter, fetches the model when it is missing, and carries out what the menu and
// the remote commands ask for. While the permissions are missing it looks again every few
// seconds (a sound server may come up later); a changed settings file restarts dictation once
// it is idle. Main thread only.
class DictationHost : public QObject {
public:
    struct Options {
        std::optional<std::string> settingsFile; // the --env file
        // How the presenter is made; the desktop's own when empty (tests pass fakes).
        std::function<std::shared_ptr<DictationTranscriber>(const Config&)> transcriber;
        DictationPresenter::Options presenter;
        std::function<Config()> reload; // Config::load of the settings file when empty
        int permissionRetryMs = 3000;
        bool fetchModel = true; // fetch a missing model (not for a stand-in recogniser)
        std::vector<GigaAMDownload::Part> downloadParts; // the four GigaAM files when empty
        std::shared_ptr<AudioSources> sources;           // PulseAudio's when empty
    };

    DictationHost(Config config, bool debug, std::function<void()> onChange, Options options);
    ~DictationHost() override;

    DictationPresenter& start();
    void stop();

    MenuBarIcon::State iconState() const;
    DictationMenu::Facts menuFacts() const;
    std::string engineLine() const;
    DictationMenu::Actions menuActions(std::function<void()> quit);

    void requestMicrophone();
    void collectSamples();
    void apply(DictationEngine engine);
    void startModelDownload();
    void openDictionary();
    // The settings window's view of this program: what is in force, and where changes go.
    SettingsWindow::Options settingsWindowOptions();
    // The settings file was written here: re-read it now rather than wait for the file watch.
    void reloadSettings() { settingsChanged(); }

    DictationPresenter* presenter() const { return presenter_.get(); }
    bool downloading() const { return download_ != nullptr; }
    bool modelUsable() const;
    double downloadShare() const { return downloadShare_; }
    const Config& config() const { return config_; }
    // The file the settings come from, or where they would be written.
    const std::string& settingsPath() const { return settingsPath_; }
    bool waitingForPermissions() const { return permissionRetry_.isActive(); }

    // Shows a message on the pill and hides it, if idle, after that many seconds.
    void flash(const std::string& text, double seconds);

private:
    void changed();
    void watchSettings();
    void settingsChanged();
    void restart();
    void downloadEvent(const GigaAMDownload::Event& event);

    Config config_;
    const bool debug_;
    const std::function<void()> onChange_;
    Options options_;
    std::string settingsPath_;
    std::unique_ptr<DictationPresenter> presenter_;
    std::unique_ptr<GigaAMDownload> download_;
    double downloadShare_ = 0;
    QTimer permissionRetry_;
    QTimer pillHide_;
    QFileSystemWatcher settingsWatch_;
    bool settingsStale_ = false; // changed while a dictation ran; restart once idle
    bool downloaded_ = false;    // a download finished: never start another one by itself
};

// The first readable settings file of Config's list; else the one in the configuration folder.
std::string settingsFilePath(const std::optional<std::string>& explicitPath);

} // namespace talvoro
