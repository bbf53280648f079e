#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "base/config.h"
#include "ui/dictation_host.h"
#include "ui/instance_channel.h"
#include "ui/menu_bar_icon.h"
#include "ui/quit_signals.h"
#include "ui/settings_window.h"

namespace talvoro {

// The application: a tray icon whose menu is made afresh at every opening, the host with the
// presenter and the pill, the channel other starts talk to, and Ctrl-C or SIGTERM as a way
// out. `standalone` is the tray application; otherwise it was started by `dictate` in a
// terminal, prints its verdict and quits when dictation cannot run. Without a tray on the
// desktop it runs all the same and says how to end it.
class DictationApp : public QObject {
public:
    struct Options {
        bool debug = false;
        bool standalone = true;
        std::shared_ptr<DictationTranscriber> transcriber; // the desktop's choice when empty
        std::optional<std::string> settingsFile;
        DictationHost::Options host; // tests' fakes
    };

    DictationApp(Config config, std::unique_ptr<InstanceChannel> channel, Options options);
    ~DictationApp() override;

    // Runs the event loop until the application ends; the exit status.
    int run();

    // Stops dictation when the process ends without the event loop returning (Qt's exit on a
    // lost X connection).
    void endAbruptly();

    static constexpr const char* alreadyRunning = "Тальворо уже запущено";

private:
    bool launch();
    void greet(bool trayShown);
    void refreshIcon();
    void rebuildMenu();
    void toggleGnomeShortcut();
    void openSettings();
    std::string remote(const std::string& command);

    Config config_;
    std::unique_ptr<InstanceChannel> channel_;
    Options options_;
    std::unique_ptr<DictationHost> host_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QuitSignals> signals_;
    std::optional<MenuBarIcon::State> shownIcon_;
    QTimer greetingEnd_;
    std::unique_ptr<SettingsWindow> settings_;
};

} // namespace talvoro
