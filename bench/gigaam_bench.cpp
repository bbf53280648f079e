// Recognition with the full-size stand-in model (random weights, real sizes and operators),
// generated into the build tree by tools/models/make_bench_model.py.
//
//   gigaam_bench --benchmark_filter=Recognise   20 s at once: stages, real-time factor,
//                                                decoder and joint runs per second, peak RSS
//   gigaam_bench --benchmark_filter=Live        live passes over recordings growing in real
//                                                time to 20 s and to 60 s: the slowest pass
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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

using namespace talvoro;

namespace {

const std::string modelFolder = bench::benchModelFolder();
constexpr int rate = 16000;

// Syllables of a voiced, pitch-gliding harmonic tone with noise, four a second, and short
// pauses between phrases: enough like speech for the encoder's output to vary.
std::vector<float> speechLike(double seconds) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
    double phase = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const bool pause = std::fmod(t, 3.0) > 2.6;
        const double pitch = 140 + 40 * std::sin(2 * std::numbers::pi * 0.7 * t);
        phase += 2 * std::numbers::pi * pitch / rate;
        const double envelope = pause ? 0.0 : std::pow(std::sin(std::numbers::pi * 4 * t), 2);
        double voiced = 0;
        for (int harmonic = 1; harmonic <= 8; ++harmonic)
            voiced += std::sin(harmonic * phase) / harmonic;
        samples[i] =
            static_cast<float>(0.2 * envelope * voiced) + (pause ? 0.001f : 1.0f) * noise(random);
    }
    return samples;
}

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

GigaAMTranscriber& sharedRecogniser() {
    static GigaAMTranscriber recogniser(modelFolder);
    return recogniser;
}

void Recognise20Seconds(benchmark::State& state) {
    if (!GigaAMTranscriber::isUsable(modelFolder)) {
        state.SkipWithError("no benchmark model: build the talvoro_bench_model target");
        return;
    }
    auto& recogniser = sharedRecogniser();
    const auto samples = speechLike(20.0);
    recogniser.transcribe(samples); // loads the model outside the measurement
    GigaAMTiming timing;
    for (auto _ : state)
        benchmark::DoNotOptimize(recogniser.transcribeTimed(samples, timing));
    const double runs = static_cast<double>(state.iterations());
    const double total =
        timing.preprocessorSeconds + timing.encoderSeconds + timing.decodingSeconds;
    state.counters["preprocessor_ms"] = 1000 * timing.preprocessorSeconds / runs;
    state.counters["encoder_ms"] = 1000 * timing.encoderSeconds / runs;
    state.counters["decoding_ms"] = 1000 * timing.decodingSeconds / runs;
    state.counters["decoding_share_pct"] = 100 * timing.decodingSeconds / total;
    state.counters["rtf"] = total / runs / 20.0;
    state.counters["frames"] = static_cast<double>(timing.frames) / runs;
    state.counters["joint_runs"] = static_cast<double>(timing.jointRuns) / runs;
    state.counters["decoder_runs"] = static_cast<double>(timing.decoderRuns) / runs;
    state.counters["joint_runs_per_s"] =
        static_cast<double>(timing.jointRuns) / std::max(timing.decodingSeconds, 1e-9);
    state.counters["decoder_runs_per_s"] =
        static_cast<double>(timing.decoderRuns) / std::max(timing.decodingSeconds, 1e-9);
    const double cpu =
        timing.preprocessorCpuSeconds + timing.encoderCpuSeconds + timing.decodingCpuSeconds;
    state.counters["preprocessor_cpu_ms"] = 1000 * timing.preprocessorCpuSeconds / runs;
    state.counters["encoder_cpu_ms"] = 1000 * timing.encoderCpuSeconds / runs;
    state.counters["decoding_cpu_ms"] = 1000 * timing.decodingCpuSeconds / runs;
    state.counters["decoding_cpu_share_pct"] = 100 * timing.decodingCpuSeconds / cpu;
    state.counters["tokens"] = static_cast<double>(timing.decoderRuns) / runs - 1;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}
BENCHMARK(Recognise20Seconds)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The recording grows in real time, as the recorder writes it, while the live stream follows.
double slowestLivePass(double seconds) {
    const std::string path = "/tmp/gigaam-bench-live-" + std::to_string(getpid()) + ".wav";
    const auto samples = speechLike(seconds);
    std::atomic<std::int64_t> written{0};
    auto recogniser = std::shared_ptr<GigaAMTranscriber>(&sharedRecogniser(), [](auto*) {});
    double slowest = 0;
    {
        WAVWriter writer(path);
        auto stream = std::make_shared<LocalDictationStream>(recogniser, path,
                                                             [&] { return written.load(); });
        stream->start();
        const auto start = std::chrono::steady_clock::now();
        const std::size_t chunk = rate / 5; // the recorder drains every 0.2 s
        for (std::size_t at = 0; at < samples.size(); at += chunk) {
            std::vector<std::int16_t> values;
            for (std::size_t i = at; i < std::min(at + chunk, samples.size()); ++i)
                values.push_back(static_cast<std::int16_t>(std::lround(samples[i] * 32767)));
            writer.write(values);
            written += static_cast<std::int64_t>(values.size());
            std::this_thread::sleep_until(
                start + std::chrono::duration<double>(static_cast<double>(at + chunk) / rate));
        }
        writer.close();
        stream->finish();
        slowest = stream->slowestPassSeconds();
    }
    std::remove(path.c_str());
    return slowest;
}

void LiveSlowestPass(benchmark::State& state) {
    if (!GigaAMTranscriber::isUsable(modelFolder)) {
        state.SkipWithError("no benchmark model: build the talvoro_bench_model target");
        return;
    }
    sharedRecogniser().transcribe(speechLike(1.0));
    double short20 = 0;
    double long60 = 0;
    for (auto _ : state) {
        short20 = slowestLivePass(20.0);
        long60 = slowestLivePass(60.0);
    }
    state.counters["slowest_pass_20s_ms"] = 1000 * short20;
    state.counters["slowest_pass_60s_ms"] = 1000 * long60;
    state.counters["ratio_60_to_20"] = long60 / short20;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}
BENCHMARK(LiveSlowestPass)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
