#include "recognition/gigaam_transcriber.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "audio/wav_reader.h"
#include "base/paths.h"
#include "cleanup/hesitation.h"
#include "recognition/gigaam_model.h"
#include "recognition/gigaam_vocabulary.h"
#include "recognition/local_model_missing.h"
#include "recognition/local_recognition_error.h"
#include "recognition/speech_cuts.h"

namespace talvoro {

namespace fs = std::filesystem;

namespace {

bool isRegularFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

std::string joinedTexts(const std::vector<GigaAMPiece>& pieces) {
    std::string text;
    for (const auto& piece : pieces) {
        if (!text.empty())
            text += ' ';
        text += piece.text;
    }
    return trimmedText(text);
}

} // namespace

GigaAMTranscriber::GigaAMTranscriber(std::string folder) : folder_(std::move(folder)) {}

GigaAMTranscriber::~GigaAMTranscriber() = default;

std::optional<std::string> GigaAMTranscriber::missingPart(const std::string& folder) {
    for (const auto& [name, minimum] : Files::required) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(fs::path(folder) / name, error);
        if (error)
            return "нет файла " + std::string(name) + " в " + folder;
        if (size < minimum)
            return "файл " + std::string(name) + " в " + folder + " скачан не целиком";
    }
    return std::nullopt;
}

bool GigaAMTranscriber::isUsable(const std::string& folder) {
    return !missingPart(folder) && preprocessor(folder).has_value();
}

std::optional<std::string> GigaAMTranscriber::preprocessor(const std::string& folder) {
    return preprocessor(folder, Paths::executableFolder());
}

std::optional<std::string> GigaAMTranscriber::preprocessor(const std::string& folder,
                                                           const std::string& executableFolder) {
    std::vector<fs::path> candidates{fs::path(folder) / Files::preprocessor};
    for (const fs::path data : Paths::dataFolders(executableFolder)) {
        candidates.push_back(data / "models" / Files::preprocessor);
        candidates.push_back(data / Files::preprocessor);
    }
    for (const fs::path& candidate : candidates)
        if (isRegularFile(candidate))
            return candidate.string();
    return std::nullopt;
}

std::optional<GigaAMCut> GigaAMTranscriber::edge(const std::vector<Piece>& pieces) {
    return talvoro::edge(pieces);
}

int GigaAMTranscriber::encoderThreads() {
    return std::max(2, static_cast<int>(std::thread::hardware_concurrency() / 2));
}

void GigaAMTranscriber::load() {
    if (model)
        return;
    if (const auto missing = missingPart(folder_))
        throw LocalModelMissing(*missing);
    const auto preprocessorPath = preprocessor(folder_);
    if (!preprocessorPath)
        throw LocalModelMissing("в программе нет препроцессора GigaAM (" +
                                std::string(Files::preprocessor) + ")");
    const fs::path here(folder_);
    // Opened all together: a load that fails part-way leaves nothing behind, and the next
    // call starts again from the first part.
    model = std::make_unique<GigaAMModel>(
        GigaAMModel::Paths{*preprocessorPath, (here / Files::encoder).string(),
                           (here / Files::decoder).string(), (here / Files::joint).string(),
                           (here / Files::vocabulary).string()},
        compute, encoderThreads());
    ++loads_;
}

void GigaAMTranscriber::prepare(std::stop_token stop) {
    std::lock_guard guard(lock);
    if (!stop.stop_requested())
        load();
}

std::vector<GigaAMTranscriber::Piece> GigaAMTranscriber::pieces(std::span<const float> samples,
                                                                std::stop_token stop,
                                                                GigaAMTiming* timing) {
    std::lock_guard guard(lock);
    if (stop.stop_requested()) // stopped while waiting for the pass before it
        throw TranscriptionCancelled();
    load();
    const auto window = static_cast<std::int64_t>(windowSeconds * sampleRate);
    const auto count = static_cast<std::int64_t>(samples.size());
    std::vector<Piece> found;
    for (const auto& range : SpeechCuts::split(samples, window)) {
        if (stop.stop_requested())
            throw TranscriptionCancelled();
        const std::int64_t length = range.end - range.start;
        if (length < shortestWindow)
            continue;
        const std::string text =
            Hesitation::clean(model->decode(samples.subspan(static_cast<std::size_t>(range.start),
                                                            static_cast<std::size_t>(length)),
                                            maxSymbolsPerFrame, timing, stop));
        if (text.empty())
            continue;
        found.push_back(Piece{text, range.end, range.end < count});
    }
    return found;
}

std::string GigaAMTranscriber::transcribe(const std::string& path, std::stop_token stop) {
    const WAVReader reader(path);
    if (reader.sampleRate != sampleRate || reader.channels != 1)
        throw LocalRecognitionError::unfitRecording(
            path, "нужен PCM16 mono 16 кГц, а тут " + std::to_string(reader.sampleRate) + " Гц, " +
                      std::to_string(reader.channels) + " кан.");
    const std::vector<float> samples = reader.samples(0, reader.sampleCount);
    if (samples.empty())
        return {};
    return joinedTexts(pieces(samples, stop, nullptr));
}

std::string GigaAMTranscriber::transcribe(std::span<const float> samples, std::stop_token stop) {
    if (samples.empty())
        return {};
    return joinedTexts(pieces(samples, stop, nullptr));
}

std::string GigaAMTranscriber::transcribeTimed(std::span<const float> samples,
                                               GigaAMTiming& timing) {
    if (samples.empty())
        return {};
    return joinedTexts(pieces(samples, {}, &timing));
}

GigaAMTranscriber::Look GigaAMTranscriber::look(std::span<const float> samples, bool mayCut,
                                                std::stop_token stop) {
    const auto found = pieces(samples, stop, nullptr);
    return Look{joinedTexts(found), mayCut ? edge(found) : std::nullopt};
}

} // namespace talvoro
