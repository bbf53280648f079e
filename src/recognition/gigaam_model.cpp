#include "recognition/gigaam_model.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "recognition/dictation_transcriber.h"
#include "recognition/gigaam_runner.h"
#include "recognition/local_recognition_error.h"

namespace talvoro {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double processorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (file)
        text << file.rdbuf();
    if (!file || file.bad())
        throw LocalRecognitionError::brokenModel(path, "словарь не читается");
    return text.str();
}

ORT::Session openPart(const std::string& path, int threads, ORT::Session::Where where,
                      ORT::Session::Weights weights = ORT::Session::Weights::prepacked) {
    try {
        return ORT::Session(path, threads, where, weights);
    } catch (const ORT::Failure& failure) {
        throw LocalRecognitionError::brokenModel(path, failure.what());
    }
}

// Runs a session once and forgets its lent inputs whatever happens.
std::map<std::string, ORT::Tensor> runOnce(ORT::Session& session,
                                           std::map<std::string, ORT::Tensor> inputs,
                                           const std::vector<std::string>& outputs,
                                           const ORT::RunOptions& options) {
    try {
        auto results = session.run(std::move(inputs), outputs, &options);
        ORT::releaseInputs();
        return results;
    } catch (...) {
        ORT::releaseInputs();
        throw;
    }
}

} // namespace

GigaAMModel::GigaAMModel(const Paths& paths, ORT::Session::Where compute, int encoderThreads)
    : paths(paths),
      preprocessor(openPart(paths.preprocessor, encoderThreads, ORT::Session::Where::processor)),
      encoder(openPart(paths.encoder, encoderThreads, compute, encoderWeights)),
      decoder(openPart(paths.decoder, 1, ORT::Session::Where::processor)),
      joint(openPart(paths.joint, 1, ORT::Session::Where::processor)),
      vocabulary_(GigaAMVocabulary::parse(readWholeFile(paths.vocabulary))),
      runner(std::make_unique<GigaAMRunner>(decoder, joint, paths.decoder, runOptions)) {}

GigaAMModel::~GigaAMModel() = default;

std::pair<std::size_t, std::size_t> GigaAMModel::encode(std::span<const float> samples,
                                                        GigaAMTiming* timing) {
    auto start = Clock::now();
    double cpuStart = processorSeconds();
    std::map<std::string, ORT::Tensor> waveform;
    waveform.emplace("waveforms", ORT::Tensor(std::vector<float>(samples.begin(), samples.end()),
                                              {1, static_cast<std::int64_t>(samples.size())}));
    waveform.emplace(
        "waveforms_lens",
        ORT::Tensor(std::vector<std::int64_t>{static_cast<std::int64_t>(samples.size())}, {1}));
    auto features =
        runOnce(preprocessor, std::move(waveform), {"features", "features_lens"}, runOptions);
    auto feature = features.find("features");
    auto featureLength = features.find("features_lens");
    if (feature == features.end() || featureLength == features.end())
        throw LocalRecognitionError::brokenModel(paths.preprocessor, "не отдал признаки");
    if (timing) {
        timing->preprocessorSeconds += secondsSince(start);
        timing->preprocessorCpuSeconds += processorSeconds() - cpuStart;
    }

    start = Clock::now();
    cpuStart = processorSeconds();
    std::map<std::string, ORT::Tensor> encoderInputs;
    encoderInputs.emplace("audio_signal",
                          ORT::Tensor(feature->second.floats(), std::move(feature->second.shape)));
    encoderInputs.emplace("length", ORT::Tensor(featureLength->second.ints(), {1}));
    auto encoded =
        runOnce(encoder, std::move(encoderInputs), {"encoded", "encoded_len"}, runOptions);
    auto output = encoded.find("encoded");
    auto outputLength = encoded.find("encoded_len");
    if (output == encoded.end() || outputLength == encoded.end())
        throw LocalRecognitionError::brokenModel(paths.encoder, "не отдал результат");

    const std::vector<float> values = output->second.floats();
    const std::vector<std::int64_t>& shape = output->second.shape;
    const std::vector<std::int64_t> lengths = outputLength->second.ints();
    if (shape.size() < 2 || shape[1] <= 0 || (lengths.empty() && shape.size() < 3))
        throw LocalRecognitionError::brokenModel(paths.encoder,
                                                 "отдал тензор без нужных измерений");
    const auto dimension = static_cast<std::size_t>(shape[1]);
    // A frame's values lie one row apart: the row is the tensor's own frame count, which
    // may exceed the valid length the encoder reports.
    const std::size_t row = shape.size() >= 3 && shape[2] >= 0 ? static_cast<std::size_t>(shape[2])
                                                               : values.size() / dimension;
    if (row > values.size() / dimension)
        throw LocalRecognitionError::brokenModel(paths.encoder,
                                                 "отдал меньше значений, чем в его форме");
    const std::int64_t length = lengths.empty() ? static_cast<std::int64_t>(row) : lengths[0];
    if (length < 0 || static_cast<std::size_t>(length) > row)
        throw LocalRecognitionError::brokenModel(paths.encoder, "длина " + std::to_string(length) +
                                                                    " больше числа его кадров (" +
                                                                    std::to_string(row) + ")");
    const auto count = static_cast<std::size_t>(length);
    frames.resize(count * dimension);
    for (std::size_t d = 0; d < dimension; ++d) {
        const float* from = values.data() + d * row;
        for (std::size_t t = 0; t < count; ++t)
            frames[t * dimension + d] = from[t];
    }
    if (timing) {
        timing->encoderSeconds += secondsSince(start);
        timing->encoderCpuSeconds += processorSeconds() - cpuStart;
    }
    return {dimension, count};
}

std::string GigaAMModel::decode(std::span<const float> samples, int maxSymbolsPerFrame,
                                GigaAMTiming* timing, std::stop_token stop) {
    runOptions.resume();
    const std::stop_callback onStop(stop, [this] { runOptions.terminate(); });
    try {
        return decodeRunning(samples, maxSymbolsPerFrame, timing);
    } catch (...) {
        if (stop.stop_requested())
            throw TranscriptionCancelled();
        throw;
    }
}

std::string GigaAMModel::decodeRunning(std::span<const float> samples, int maxSymbolsPerFrame,
                                       GigaAMTiming* timing) {
    const auto [dimension, count] = encode(samples, timing);
    const auto start = Clock::now();
    const double cpuStart = processorSeconds();
    const std::int64_t decoderBefore = runner->decoderRuns;
    const std::int64_t jointBefore = runner->jointRuns;
    const auto tokens = rnntGreedyDecode(*runner, {frames, dimension, count}, vocabulary_.blank(),
                                         maxSymbolsPerFrame);
    std::string text = vocabulary_.text(tokens);
    if (timing) {
        timing->decodingSeconds += secondsSince(start);
        timing->decodingCpuSeconds += processorSeconds() - cpuStart;
        timing->decoderRuns += runner->decoderRuns - decoderBefore;
        timing->jointRuns += runner->jointRuns - jointBefore;
        timing->frames += static_cast<std::int64_t>(count);
    }
    return text;
}

} // namespace talvoro
