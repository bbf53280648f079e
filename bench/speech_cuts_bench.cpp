// Speech cutting over ten minutes of tone with pauses.
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "recognition/speech_cuts.h"

namespace {

using namespace talvoro;

constexpr std::int64_t second = 16000;

// Ten minutes plus a short tail, so split has to measure loudness and move a seam.
const std::vector<float>& tenMinutes() {
    static const std::vector<float> samples = [] {
        std::vector<float> out(static_cast<std::size_t>(600 * second + 3 * second));
        for (std::size_t i = 0; i < out.size(); ++i) {
            const bool pause = (i / (7 * second / 2)) % 4 == 3;
            const double level = pause ? 0.0005 : 0.2;
            out[i] =
                static_cast<float>((std::sin(0.08 * double(i)) + (int(i % 7) - 3) * 0.02) * level);
        }
        return out;
    }();
    return samples;
}

void frameLevels(benchmark::State& state) {
    const auto& samples = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(SpeechCuts::frameLevels(samples));
    state.SetBytesProcessed(state.iterations() * int64_t(samples.size() * sizeof(float)));
}
BENCHMARK(frameLevels)->Unit(benchmark::kMillisecond);

void speechMask(benchmark::State& state) {
    const auto levels = SpeechCuts::frameLevels(tenMinutes());
    for (auto _ : state)
        benchmark::DoNotOptimize(SpeechCuts::speechMask(levels));
    state.SetItemsProcessed(state.iterations() * int64_t(levels.size()));
}
BENCHMARK(speechMask)->Unit(benchmark::kMicrosecond);

void split(benchmark::State& state) {
    const auto& samples = tenMinutes();
    std::size_t pieces = 0;
    for (auto _ : state) {
        auto ranges = SpeechCuts::split(samples, 20 * second);
        pieces = ranges.size();
        benchmark::DoNotOptimize(ranges);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(samples.size() * sizeof(float)));
    state.counters["pieces"] = double(pieces);
}
BENCHMARK(split)->Unit(benchmark::kMillisecond);

// Plain streaming read of the same bytes: the memory speed the loudness pass is held to.
void memoryRead(benchmark::State& state) {
    const auto& samples = tenMinutes();
    for (auto _ : state) {
        float sum = 0;
        for (std::size_t i = 0; i < samples.size(); i += 16)
            sum += samples[i];
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(samples.size() * sizeof(float)));
}
BENCHMARK(memoryRead)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
