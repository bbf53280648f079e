#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "audio/audio_sources.h"
#include "base/config.h"
#include "base/serial_queue.h"
#include "download/download_retry.h"
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
        std::shared_ptr<AudioSources> sources; // PulseAudio's when empty
        // Runs the host's long jobs (packing samples, copying a model) away from the main
        // thread, one after another; a thread of the host's own when empty.
        std::function<void(std::function<void()>)> background;
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
    // The model folder now holds a checked model (imported): recognise with it.
    void modelInstalled();
    // Asks for a folder and installs the model from it.
    void chooseModelFolder();
    // Stops a running download, then copies and checks the model from the folder in the
    // background; the model is used once it is all in place.
    void installModelFrom(const std::string& folder);
    void openDictionary();
    // The settings window's view of this program: what is in force, and where changes go.
    SettingsWindow::Options settingsWindowOptions();
    // The settings file was written here: re-read it now rather than wait for the file watch.
    void reloadSettings() { settingsChanged(); }

    DictationPresenter* presenter() const { return presenter_.get(); }
    bool downloading() const { return download_ != nullptr; }
    bool importing() const { return importing_; }
    // Not all model files are there exactly: the menu offers to fetch or install them.
    bool modelMissing() const { return !modelUsable() || !modelChecked_; }
    DownloadRetry& downloadRetry() { return retry_; }
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
    // Restarts dictation now when it is idle, else once it is (a recording or a recognition in
    // progress is never cut off), then shows the message.
    void restartWhenIdle(std::string message, double seconds);
    void downloadEvent(const GigaAMDownload::Event& event);
    void collected(int pairs, const std::optional<std::string>& archive,
                   const std::string& failure);
    void checkModel();
    void fetch(bool quietly);
    void imported(const std::optional<std::string>& failure);
    void inBackground(std::function<void()> job);

    Config config_;
    const bool debug_;
    const std::function<void()> onChange_;
    Options options_;
    std::string settingsPath_;
    std::unique_ptr<DictationPresenter> presenter_;
    std::unique_ptr<GigaAMDownload> download_;
    double downloadShare_ = 0;
    bool quietDownload_ = false; // a retry: its failure is not flashed on the pill
    bool modelChecked_ = false;  // every part is in the folder with its size and hash
    DownloadRetry retry_;
    QTimer permissionRetry_;
    QTimer pillHide_;
    QFileSystemWatcher settingsWatch_;
    bool restartPending_ = false; // asked for while a dictation ran; restart once idle
    std::optional<std::pair<std::string, double>> restartMessage_; // shown after that restart
    bool downloaded_ = false; // a download finished: never start another one by itself
    bool collecting_ = false; // an archive is being packed
    bool importing_ = false;
    int importPercent_ = 0;
    bool resumeDownload_ = false; // the import stopped a download: it goes on if the import fails
    std::stop_source importStop_;
    std::unique_ptr<SerialQueue> worker_; // made with the first background job
};

// The first readable settings file of Config's list; else the one in the configuration folder.
std::string settingsFilePath(const std::optional<std::string>& explicitPath);

} // namespace talvoro
