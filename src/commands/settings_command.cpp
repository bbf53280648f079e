#include "commands/settings_command.h"

#include <QApplication>
#include <memory>

#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"
#include "ui/dictation_host.h"
#include "ui/dictation_menu.h"
#include "ui/instance_channel.h"
#include "ui/settings_window.h"

namespace talvoro {

bool runSettings(const CommandContext& context) {
    if (const std::optional<std::string> answer = InstanceChannel::send("settings")) {
        if (*answer != "ok")
            fail(*answer);
        return true;
    }
    const std::optional<std::string> envFile = context.args.option("env");
    auto current = std::make_shared<Config>(context.config);
    SettingsWindow::Options options;
    options.settingsPath = settingsFilePath(envFile);
    options.config = [current] { return *current; };
    options.settingsWritten = [current, envFile] {
        Config fresh = Config::load(envFile);
        fresh.limitToLocalOnly();
        *current = std::move(fresh);
    };
    options.modelLine = [current] {
        const bool usable =
            GigaAMTranscriber::isUsable(DictationEngineStore::modelFolder(*current));
        return DictationMenu::engineLine(std::nullopt, usable, GigaAMTranscriber::version) +
               (usable ? "" : " (скачается при запуске Тальворо)");
    };
    SettingsWindow window(std::move(options));
    window.show();
    QApplication::exec();
    return true;
}

} // namespace talvoro
