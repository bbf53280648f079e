#include "commands/sampletest_command.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <optional>
#include <set>
#include <vector>

#include "audio/wav_writer.h"
#include "commands/self_check.h"
#include "commands/zip_entries.h"
#include "dictation/dictation_samples.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"
#include "recognition/missing_local_model.h"

namespace fs = std::filesystem;

namespace talvoro {

namespace {

const std::string modelName = GigaAMTranscriber::version;

// A recording of `seconds` of a quiet tone, 16 kHz mono.
std::string makeRecording(const std::string& path, double seconds) {
    WAVWriter writer(path);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(
            3000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / 16000));
    writer.write(samples);
    writer.close();
    return path;
}

std::set<std::string> names(const std::string& folder, const std::string& extension) {
    std::set<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == extension)
            found.insert(it->path().stem().string());
    return found;
}

QJsonObject record(const std::string& folder, const std::string& base) {
    QFile file(QString::fromStdString(folder + "/" + base + ".json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

std::string text(const QJsonObject& object, const char* key) {
    return object.value(key).toString().toStdString();
}

bool everyPairWhole(const std::string& folder) {
    return names(folder, ".wav") == names(folder, ".json");
}

void checkKeeping(SelfCheck& self, const std::string& root) {
    const std::string wav = makeRecording(root + "/диктовка.wav", 3);
    const std::string folder = root + "/samples";
    const DictationSamples samples(folder);
    const std::string said = "Привет, мир — «проверка» / 2+2 = 4\nвторая строка";
    const int before = samples.count();
    samples.keep(wav, said, "файл", "local", modelName);

    const std::set<std::string> wavs = names(folder, ".wav");
    const std::set<std::string> jsons = names(folder, ".json");
    self.check("гипотеза отложена", wavs.size() == 1 && jsons.size() == 1);
    self.check("пара по имени сходится", !wavs.empty() && wavs == jsons);
    self.check("счётчик видит пару", samples.count() == before + 1);
    const std::string base = wavs.empty() ? "" : *wavs.begin();
    const QJsonObject kept = record(folder, base);
    self.check("текст сохранён дословно", text(kept, "text") == said, text(kept, "text"));
    self.check("путь пришедшего записан", text(kept, "source") == "файл" &&
                                              text(kept, "engine") == "local" &&
                                              text(kept, "model") == modelName);
    self.check("длительность посчитана",
               kept.value("seconds").toDouble() == 3.0 && kept.value("rate").toInt() == 16000);
    self.check("имя машины записано",
               text(kept, "who") == DictationSamples::who() &&
                   DictationSamples::who().find('@') != std::string::npos,
               text(kept, "who"));
    self.check("аудио названо в паре", text(kept, "wav") == base + ".wav");
    self.check("исходник диктовки на месте", fs::exists(wav));

    samples.keep(wav, "", "очередь", "local");
    int emptyRecords = 0;
    for (const std::string& name : names(folder, ".json")) {
        const QJsonObject other = record(folder, name);
        emptyRecords += other.contains("text") && text(other, "text").empty();
    }
    const bool emptyKept = samples.count() == before + 2 && everyPairWhole(folder);
    self.check("пустая гипотеза отложена", emptyKept && emptyRecords == 1);
}

void checkLimit(SelfCheck& self, const std::string& root) {
    const std::string wav = makeRecording(root + "/три секунды.wav", 3);
    const std::string folder = root + "/limited";
    const DictationSamples samples(folder, 200000);
    bool withinLimit = true;
    for (int i = 0; i < 4; ++i) {
        samples.keep(wav, "раз два три", "файл", "local", modelName);
        withinLimit = withinLimit && samples.bytes() <= 200000;
    }
    self.check("папка держится в лимите", withinLimit, std::to_string(samples.bytes()));
    self.check("после вытеснения что-то осталось", samples.count() >= 1);
    self.check("вытеснение не оставляет половинок", everyPairWhole(folder));
}

void checkArchive(SelfCheck& self, const std::string& root) {
    const DictationSamples samples(root + "/samples");
    const int pairs = samples.count();
    std::map<std::string, std::string> packed;
    std::string failure;
    try {
        packed = zipEntries(samples.archive(root + "/out", modelName));
    } catch (const std::exception& error) {
        failure = error.what();
    }
    int wavs = 0, jsons = 0;
    for (const auto& [name, bytes] : packed) {
        wavs += fs::path(name).extension() == ".wav";
        jsons += fs::path(name).extension() == ".json";
    }
    const std::string note = packed.count(std::string("./") + DictationSamples::noteName)
                                 ? packed[std::string("./") + DictationSamples::noteName]
                                 : packed[DictationSamples::noteName];
    self.check("в архиве гипотезы", wavs > 0 && jsons == wavs, failure);
    self.check("в архиве сказано, чей он",
               note.find("Кто: " + DictationSamples::who()) != std::string::npos);
    self.check("в записке названа модель", note.find("Модель: " + modelName) != std::string::npos);
    self.check("пар в архиве столько же", wavs == pairs,
               std::to_string(wavs) + " из " + std::to_string(pairs));
    self.check("архив не выносит папку", samples.count() == pairs && pairs > 0);

    bool refused = false;
    try {
        DictationSamples(root + "/nothing").archive(root + "/out");
    } catch (const DictationSamples::SamplesError& error) {
        refused = error.kind() == DictationSamples::SamplesError::Kind::empty &&
                  std::string(error.what()) == "нечего собирать — разметки пока нет";
    }
    self.check("пустую разметку собирать отказывается", refused);
}

// The program's own model when it is downloaded, else the test model of a build tree.
std::optional<std::string> modelFolder(const Config& config) {
    const std::string own = DictationEngineStore::modelFolder(config);
    if (GigaAMTranscriber::isUsable(own))
        return own;
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const std::string generated = (executable.parent_path() / "test-models/gigaam").string();
    if (!error && GigaAMTranscriber::isUsable(generated)) {
        std::printf("  · модели GigaAM нет в %s — версию проверяю на учебной модели сборки\n",
                    own.c_str());
        return generated;
    }
    std::printf("  · модель GigaAM не скачана — версия модели не проверена\n");
    return std::nullopt;
}

void checkModels(SelfCheck& self, const Config& config, const std::string& root) {
    Config missing = config;
    missing.modelDir = root + "/нет модели";
    const std::string none = dictationTranscriber(missing)->identity();
    self.check("нет модели — так и сказано", none == MissingLocalModel().identity(), none);

    std::optional<std::string> gigaam;
    if (const std::optional<std::string> folder = modelFolder(config)) {
        Config usable = config;
        usable.modelDir = *folder;
        gigaam = dictationTranscriber(usable)->identity();
        self.check("GigaAM называет версию", *gigaam == GigaAMTranscriber::version, *gigaam);
        self.check("версия модели непустая", !gigaam->empty());
    }
    bool apart =
        rawValue(DictationEngine::local) != rawValue(DictationEngine::server) &&
        dictationEngineFromRaw(rawValue(DictationEngine::local)) == DictationEngine::local &&
        dictationEngineFromRaw(rawValue(DictationEngine::server)) == DictationEngine::server;
    if (gigaam)
        apart = apart && *gigaam != none;
    self.check("движки друг с другом не путаются", apart);
}

} // namespace

bool runSampletest(const CommandContext& context) {
    SelfCheck self;
    QTemporaryDir scratch;
    const std::string root = scratch.path().toStdString();
    std::fflush(stdout);
    checkKeeping(self, root);
    checkLimit(self, root);
    checkArchive(self, root);
    checkModels(self, context.config, root);
    return self.finish("сбор разметки сходится (");
}

} // namespace talvoro
