// What the user waits for, on the full-size stand-in model (made on first use, see
// bench_model.h), each beside its reference measured in the same run.
//
//   gigaam_latency_bench --benchmark_filter=WholeOverEncoder
//       a fresh recogniser recognising 5 recordings of 20 s, against opening the sessions plus
//       the encoder alone on the same audio; three runs in a row (goal: ratio ≤ 1.10)
//   gigaam_latency_bench --benchmark_filter=ReleaseToText
//       recordings of 5, 10 and 30 s growing in real time under the live stream, released
//       while a live pass is in flight: finish() until the text, against the encoder alone
//       on the whole recording (goal: ≤ 1.3 × encoder + 0.1 s). "kept" lets the live pass in
//       flight run to its end first, as finish() did before it ended stale passes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <thread>

#include "audio/wav_writer.h"
#include "bench_model.h"
#include "recognition/gigaam_model.h"
#include "recognition/gigaam_transcriber.h"
#include "recognition/local_dictation_stream.h"
#include "recognition/ort_session.h"
#include "recognition/speech_cuts.h"

using namespace talvoro;

namespace {

using Clock = std::chrono::steady_clock;
using Files = GigaAMTranscriber::Files;

const std::string folder = bench::benchModelFolder();
constexpr int rate = 16000;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Voiced, pitch-gliding syllables with noise and pauses between phrases.
std::vector<float> speechLike(double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
    double phase = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const bool pause = std::fmod(t, 3.0) > 2.6;
        phase +=
            2 * std::numbers::pi * (140 + 40 * std::sin(2 * std::numbers::pi * 0.7 * t)) / rate;
        const double envelope = pause ? 0.0 : std::pow(std::sin(std::numbers::pi * 4 * t), 2);
        double voiced = 0;
        for (int harmonic = 1; harmonic <= 8; ++harmonic)
            voiced += std::sin(harmonic * phase) / harmonic;
        samples[i] =
            static_cast<float>(0.2 * envelope * voiced) + (pause ? 0.001f : 1.0f) * noise(random);
    }
    return samples;
}

GigaAMModel::Paths modelPaths() {
    return {folder + "/" + Files::preprocessor, folder + "/" + Files::encoder,
            folder + "/" + Files::decoder, folder + "/" + Files::joint,
            folder + "/" + Files::vocabulary};
}

// The encoder alone over the windows the recogniser would cut the samples into; the
// features are made outside the measurement.
class EncoderAlone {
public:
    EncoderAlone()
        : preprocessor(modelPaths().preprocessor, GigaAMTranscriber::encoderThreads(),
                       ORT::Session::Where::processor),
          // The encoder as the recogniser opens it, so the reference runs the same weights.
          encoder(modelPaths().encoder, GigaAMTranscriber::encoderThreads(),
                  ORT::Session::Where::processor, GigaAMModel::encoderWeights) {}

    double seconds(const std::vector<float>& samples) {
        double total = 0;
        for (const auto& range : SpeechCuts::split(samples, 20 * rate)) {
            const std::int64_t n = range.end - range.start;
            std::map<std::string, ORT::Tensor> wave;
            wave.emplace("waveforms", ORT::Tensor(std::vector<float>(samples.begin() + range.start,
                                                                     samples.begin() + range.end),
                                                  {1, n}));
            wave.emplace("waveforms_lens", ORT::Tensor(std::vector<std::int64_t>{n}, {1}));
            auto features = preprocessor.run(std::move(wave), {"features", "features_lens"});
            ORT::releaseInputs();
            std::map<std::string, ORT::Tensor> inputs;
            inputs.emplace("audio_signal", features.at("features"));
            inputs.emplace("length", features.at("features_lens"));
            const auto start = Clock::now();
            encoder.run(std::move(inputs), {"encoded", "encoded_len"});
            total += since(start);
            ORT::releaseInputs();
        }
        return total;
    }

private:
    ORT::Session preprocessor;
    ORT::Session encoder;
};

bool haveModel(benchmark::State& state) {
    if (GigaAMTranscriber::isUsable(folder))
        return true;
    state.SkipWithError("no benchmark model: it could not be generated");
    return false;
}

void WholeOverEncoder(benchmark::State& state) {
    if (!haveModel(state))
        return;
    std::vector<std::vector<float>> recordings;
    for (unsigned i = 0; i < 5; ++i)
        recordings.push_back(speechLike(20.0, 7 + i));
    EncoderAlone alone;
    int run = 0;
    for (auto _ : state) {
        ++run;
        auto start = Clock::now();
        {
            GigaAMModel sessions(modelPaths(), ORT::Session::Where::processor,
                                 GigaAMTranscriber::encoderThreads());
        }
        const double load = since(start);
        double encoder = 0;
        for (const auto& samples : recordings)
            encoder += alone.seconds(samples);

        start = Clock::now();
        {
            GigaAMTranscriber recogniser(folder);
            for (const auto& samples : recordings)
                benchmark::DoNotOptimize(recogniser.transcribe(samples));
        }
        const double whole = since(start);
        const std::string name = "run" + std::to_string(run) + "_";
        state.counters[name + "ratio"] = whole / (load + encoder);
        state.counters[name + "whole_s"] = whole;
        state.counters[name + "load_s"] = load;
        state.counters[name + "encoder_s"] = encoder;
    }
}
BENCHMARK(WholeOverEncoder)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

// The recogniser as the live stream sees it, saying when a live pass is under way. With
// keepLivePasses the pass ignores the stream's stop, as it did before finish() ended it.
class WatchedEngine : public LocalDictationStream::Engine {
public:
    WatchedEngine(GigaAMTranscriber& recogniser, bool keepLivePasses)
        : recogniser(recogniser), keepLivePasses(keepLivePasses) {}

    std::string transcribe(std::span<const float> samples, std::stop_token stop) override {
        looking = true;
        struct Done {
            std::atomic<bool>& flag;
            ~Done() { flag = false; }
        } done{looking};
        return recogniser.transcribe(samples, keepLivePasses ? std::stop_token{} : stop);
    }

    std::atomic<bool> looking{false};

private:
    GigaAMTranscriber& recogniser;
    const bool keepLivePasses;
};

// Seconds from release to the final text; the recording grows in real time until it is at
// least `seconds` long and a live pass is under way. `recorded` gets what was written.
double releaseToText(GigaAMTranscriber& recogniser, double seconds, bool keepLivePasses,
                     std::vector<float>& recorded) {
    const std::string path = "/tmp/gigaam-latency-" + std::to_string(getpid()) + ".wav";
    const auto samples = speechLike(seconds + 5, 11);
    std::atomic<std::int64_t> written{0};
    auto engine = std::make_shared<WatchedEngine>(recogniser, keepLivePasses);
    double waited = 0;
    {
        WAVWriter writer(path);
        auto stream =
            std::make_shared<LocalDictationStream>(engine, path, [&] { return written.load(); });
        stream->start();
        const auto start = Clock::now();
        const std::size_t chunk = rate / 10;
        std::size_t at = 0;
        while (at + chunk <= samples.size()) {
            std::vector<std::int16_t> values;
            for (std::size_t i = at; i < at + chunk; ++i)
                values.push_back(static_cast<std::int16_t>(std::lround(samples[i] * 32767)));
            writer.write(values);
            at += chunk;
            written = static_cast<std::int64_t>(at);
            if (static_cast<double>(at) >= seconds * rate && engine->looking)
                break;
            std::this_thread::sleep_until(
                start + std::chrono::duration<double>(static_cast<double>(at) / rate));
        }
        writer.close();
        recorded.assign(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(at));
        const auto released = Clock::now();
        benchmark::DoNotOptimize(stream->finish());
        waited = since(released);
    }
    std::remove(path.c_str());
    return waited;
}

void ReleaseToText(benchmark::State& state) {
    if (!haveModel(state))
        return;
    GigaAMTranscriber recogniser(folder);
    recogniser.transcribe(speechLike(1.0, 3)); // loads outside the measurement
    EncoderAlone alone;
    for (auto _ : state) {
        for (const double seconds : {5.0, 10.0, 30.0}) {
            const std::string name = std::to_string(static_cast<int>(seconds)) + "s_";
            std::vector<float> recorded;
            const double ended = releaseToText(recogniser, seconds, false, recorded);
            const double encoder = alone.seconds(recorded);
            const double kept = releaseToText(recogniser, seconds, true, recorded);
            state.counters[name + "release_s"] = ended;
            state.counters[name + "kept_s"] = kept;
            state.counters[name + "encoder_s"] = encoder;
            state.counters[name + "goal_s"] = 1.3 * encoder + 0.1;
        }
    }
}
BENCHMARK(ReleaseToText)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
