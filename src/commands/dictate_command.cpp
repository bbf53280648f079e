#include "commands/dictate_command.h"

#include <cstdio>
#include <memory>

#include "audio/mic.h"
#include "hotkey/hotkey_tap.h"
#include "insertion/paster.h"
#include "recognition/stub_transcriber.h"
#include "ui/dictation_app.h"

namespace talvoro {

namespace {

std::unique_ptr<InstanceChannel> claimOrLeave() {
    auto channel = InstanceChannel::claim();
    if (!channel) {
        std::printf("%s\n", DictationApp::alreadyRunning);
        std::fflush(stdout);
        throw ExitRequest{1};
    }
    return channel;
}

void checkPermissions() {
    const Mic::Authorization mic = Mic::authorizationStatus();
    const bool micOk = mic == Mic::Authorization::authorized;
    std::printf("разрешения: микрофон %s, мониторинг ввода %s, универсальный доступ %s\n",
                micOk ? "да" : ("нет (" + std::to_string(Mic::rawValue(mic)) + ")").c_str(),
                HotkeyTap::permissionGranted() ? "да" : "нет",
                Paster::permissionGranted() ? "да" : "нет");
    if (mic == Mic::Authorization::notDetermined)
        std::printf("жду ответа на системный диалог микрофона…\n");
    std::fflush(stdout);
    if (!Mic::requestPermission())
        fail("микрофон недоступен — звуковой сервер (PulseAudio/PipeWire) не отдал источник "
             "записи");
    if (const auto missing = Paster::missingPermission())
        fail(missing->what());
}

} // namespace

bool runDictate(const CommandContext& context) {
    auto channel = claimOrLeave();
    checkPermissions();
    DictationApp::Options options;
    options.standalone = false;
    options.debug = context.args.has("--debug");
    options.settingsFile = context.args.option("env");
    if (context.args.has("--stub-fail")) {
        options.transcriber = std::make_shared<StubTranscriber>(1.0, true);
        std::printf("режим заглушки: распознавание всегда падает\n");
    } else if (context.args.has("--stub")) {
        options.transcriber = std::make_shared<StubTranscriber>(1.0, false);
        std::printf("режим заглушки: вставляется фиксированная фраза, STT не вызывается\n");
    }
    std::printf("аудио диктовки: %s\n", context.config.dictationDir.c_str());
    std::fflush(stdout);
    DictationApp app(context.config, std::move(channel), std::move(options));
    if (const int status = app.run(); status != 0)
        throw ExitRequest{status};
    return true;
}

bool runTrayApplication(const CommandContext& context) {
    auto channel = claimOrLeave();
    DictationApp::Options options;
    options.settingsFile = context.args.option("env");
    DictationApp app(context.config, std::move(channel), std::move(options));
    if (const int status = app.run(); status != 0)
        throw ExitRequest{status};
    return true;
}

} // namespace talvoro
