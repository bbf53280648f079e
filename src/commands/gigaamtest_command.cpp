#include "commands/gigaamtest_command.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"

namespace talvoro {

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> recordings(const fs::path& place) {
    std::error_code error;
    if (fs::is_regular_file(place, error))
        return {place};
    std::vector<fs::path> found;
    if (!fs::is_directory(place, error))
        return found;
    for (const auto& entry : fs::directory_iterator(place, error))
        if (entry.path().extension() == ".wav")
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

// The text kept beside a sample recording, when there is one.
std::optional<std::string> keptText(const fs::path& wav) {
    fs::path json = wav;
    json.replace_extension(".json");
    QFile file(QString::fromStdString(json.string()));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
    if (!record.value("text").isString())
        return std::nullopt;
    return record.value("text").toString().toStdString();
}

std::optional<double> windowOption(const CommandLine& args) {
    const auto text = args.option("window");
    if (!text)
        return std::nullopt;
    try {
        std::size_t used = 0;
        const double seconds = std::stod(*text, &used);
        if (used == text->size() && seconds > 0 && seconds < 3600)
            return seconds;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

} // namespace

bool runGigaamtest(const CommandContext& context) {
    const std::string folder = DictationEngineStore::modelFolder(context.config);
    if (!GigaAMTranscriber::isUsable(folder))
        fail("модель GigaAM не скачана в " + folder);
    GigaAMTranscriber recogniser(folder);
    if (const auto window = windowOption(context.args))
        recogniser.windowSeconds = *window;
    if (context.args.has("--neural"))
        recogniser.compute = ORT::Session::Where::neural;

    fs::path place = fs::path(context.config.dictationDir) / "samples";
    if (const auto wav = context.args.option("wav"))
        place = *wav;
    else if (const auto given = context.args.positionalArgument())
        place = *given;
    const auto files = recordings(place);
    if (files.empty())
        fail(place.string() + " нет записей — укажи --wav");

    double total = 0;
    for (const fs::path& file : files) {
        std::printf("%s\n", file.filename().string().c_str());
        const auto start = std::chrono::steady_clock::now();
        try {
            const std::string text = recogniser.transcribe(file.string());
            std::printf("  gigaam:  %s\n", text.c_str());
        } catch (const std::exception& error) {
            std::printf("  gigaam:  — ошибка —\n  %s\n", error.what());
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (const auto kept = keptText(file))
            std::printf("  whisper: %s\n", kept->c_str());
        std::fflush(stdout);
    }
    std::printf("\nвсего %.1f с на %d записей\n", total, static_cast<int>(files.size()));
    return true;
}

} // namespace talvoro
