#include "commands/dictateprobe_command.h"

#include <QEventLoop>
#include <cstdio>
#include <filesystem>

#include "dictation/dictation_failure.h"
#include "download/gigaam_download.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"

namespace talvoro {

namespace {

void printRemoteEngineNote() {
    std::printf("контур: в этой сборке его нет — распознаётся только на этом компьютере\n");
}

// Runs the download to its end on this thread's event loop, printing every tenth of it.
void fetchModel(const Config& config) {
    const std::string folder = DictationEngineStore::modelFolder(config);
    std::vector<GigaAMDownload::Part> parts;
    try {
        parts = modelParts(config);
    } catch (const ModelManifestError& error) {
        fail(error.what());
    }
    std::printf("модели GigaAM нет — качаю (%zu части, %s) в %s\n", parts.size(),
                GigaAMDownload::weight().c_str(), folder.c_str());
    std::fflush(stdout);
    QEventLoop loop;
    int shownTenths = 0;
    GigaAMDownload download(
        folder, GigaAMDownload::sources(config),
        [&](const GigaAMDownload::Event& event) {
            if (const auto* progress = std::get_if<GigaAMDownload::Progress>(&event)) {
                const int percent = static_cast<int>(progress->fraction * 100);
                if (percent / 10 > shownTenths) {
                    shownTenths = percent / 10;
                    std::printf("  скачано %d%%\n", percent);
                }
            } else if (const auto* done = std::get_if<GigaAMDownload::Done>(&event)) {
                std::printf("модель скачана в %s\n", done->folder.c_str());
                loop.quit();
            } else if (const auto* failed = std::get_if<GigaAMDownload::Failed>(&event)) {
                std::printf("модель не скачалась: %s\n", failed->message.c_str());
                loop.quit();
            }
            std::fflush(stdout);
        },
        std::move(parts));
    download.start();
    loop.exec();
}

} // namespace

bool runDictateprobe(const CommandContext& context) {
    const Config& config = context.config;
    const std::string file = context.args.positionalArgument().value_or(
        (std::filesystem::path(config.dictationDir) / "probe.wav").string());

    if (const auto name = context.args.option("engine"))
        if (const auto chosen = dictationEngineFromRaw(*name))
            DictationEngineStore::set(*chosen);
    const DictationEngine engine = DictationEngineStore::current(config);
    std::printf("движок: %s — %s\n", rawValue(engine).c_str(), title(engine).c_str());
    if (engine == DictationEngine::server)
        printRemoteEngineNote();
    if (engine == DictationEngine::local &&
        !GigaAMTranscriber::isUsable(DictationEngineStore::modelFolder(config)))
        fetchModel(config);

    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        fail("нет файла " + file + " — укажи любой wav: dictateprobe запись.wav");

    try {
        const std::string text = dictationTranscriber(config)->transcribe(file);
        std::printf("распознано: %s\n\nОК — доставка работает\n", text.c_str());
    } catch (const std::exception& failure) {
        const DictationFailure verdict(failure);
        std::printf("\nне доехало: %s\n%s\nчеловеку: %s — %s\n", failure.what(),
                    verdict.isTransient() ? "временное — ждём и копим очередь"
                                          : "постоянное — ожиданием не лечится",
                    verdict.text().c_str(), verdict.hint().c_str());
        std::fflush(stdout);
        throw ExitRequest{1}; // the probe found that delivery does not work
    }
    return true;
}

} // namespace talvoro
