#include "commands/offlinetest_command.h"

#include <QDir>
#include <QUuid>

#include <cstdio>
#include <filesystem>

#include "cleanup/whisper_noise.h"
#include "commands/offline_model_checks.h"
#include "commands/self_check.h"
#include "dictation/text_polishing.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"

namespace fs = std::filesystem;

namespace talvoro {

namespace {

// Every road to the network stays shut: on the settings this run was started with, and on
// settings that asked for the server, the stream and style edits before they were narrowed.
void checkOffline(SelfCheck& self, const Config& running) {
    Config asked = running;
    asked.dictationEngine = DictationEngine::server;
    asked.streamEnabled = true;
    asked.polishEnabled = true;
    asked.limitToLocalOnly();

    bool local = true, noStream = true, noPolish = true, noServerStream = true;
    for (const Config* config : {&running, static_cast<const Config*>(&asked)}) {
        const DictationEngine engine = DictationEngineStore::current(*config);
        local = local && engine == DictationEngine::local &&
                config->dictationEngine == DictationEngine::local;
        noStream = noStream && !config->streamEnabled;
        noPolish = noPolish && !config->polishEnabled && !makePolisher(*config)->isAvailable();
        noServerStream = noServerStream && !DictationEngineStore::streamAllowed(*config, engine);
    }
    self.check("движок только этот компьютер", local);
    self.check("серверный стрим выключен", noStream);
    self.check("правка стилем выключена", noPolish);
    self.check("живой стрим на сервер запрещён", noServerStream);

    // The rule itself still tells the engines apart, should streaming ever be switched on.
    Config streaming = running;
    streaming.streamEnabled = true;
    self.check("локальный движок не поднимает серверный стрим",
               !DictationEngineStore::streamAllowed(streaming, DictationEngine::local));
    self.check("серверному движку стрим по-прежнему разрешён",
               DictationEngineStore::streamAllowed(streaming, DictationEngine::server));
}

void checkNoise(SelfCheck& self) {
    for (const char* phrase :
         {"Продолжение следует...", "Спасибо за просмотр!", "Спасибо за внимание.",
          "Подписывайтесь на канал", "Субтитры сделал Lemvask",
          "Редактор субтитров А.Вельдин Корректор А.Крамова", "続きは次回", "(смеётся)",
          "*Звук оттенков*", "♪ музыка ♪"}) {
        const std::string left = WhisperNoise::clean(phrase);
        self.check(std::string("вычеркнуто: ") + phrase, left.empty(), left);
    }
    const std::string mixed = WhisperNoise::clean("Я дописал отчёт (смеётся) и отправил его.");
    self.check("мусор внутри фразы не уносит фразу", mixed == "Я дописал отчёт и отправил его.",
               mixed);
    for (const char* sentence :
         {"Спасибо за просмотр отчёта, он пригодился.", "Продолжение следует после обеда.",
          "Подписывайтесь на канал отдела, там расписание.", "Сделай звук потише, пожалуйста."}) {
        const std::string kept = WhisperNoise::clean(sentence);
        self.check(std::string("сказанное не тронуто: ") + sentence, kept == sentence, kept);
    }
}

// The downloaded model, else the test model of a build tree (saying so), else nothing.
std::optional<OfflineModel> modelToCheck(const Config& config) {
    const std::string own = DictationEngineStore::modelFolder(config);
    if (GigaAMTranscriber::isUsable(own))
        return OfflineModel{own, false};
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const std::string generated = (executable.parent_path() / "test-models/gigaam").string();
    if (!error && GigaAMTranscriber::isUsable(generated)) {
        std::printf("  · модели GigaAM нет в %s — проверяю на учебной модели сборки (она слышит "
                    "тоны, а не речь)\n",
                    own.c_str());
        return OfflineModel{generated, true};
    }
    return std::nullopt;
}

} // namespace

bool runOfflinetest(const CommandContext& context) {
    SelfCheck self;
    std::fflush(stdout);
    checkOffline(self, context.config);
    checkNoise(self);

    if (const std::optional<OfflineModel> model = modelToCheck(context.config)) {
        const std::optional<std::string> given = context.args.option("wav");
        const std::string made =
            QDir::temp()
                .filePath("offlinetest-" + QUuid::createUuid().toString(QUuid::WithoutBraces))
                .toStdString();
        checkOfflineModel(self, *model, given, made + ".wav");
        std::error_code ignored;
        fs::remove(made + ".wav", ignored);
    } else {
        std::printf("  · модель GigaAM не скачана — движок не проверен\n");
        std::printf("  · модель GigaAM не скачана — живой показ не проверен\n");
    }
    std::fflush(stdout);
    return self.finish("сборка без сети сходится (");
}

} // namespace talvoro
