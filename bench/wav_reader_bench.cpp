// Reading a 100 MB recording, generated into a temporary folder, with WAVReader.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include "audio/wav_reader.h"
#include "audio/wav_writer.h"

namespace {

using namespace talvoro;

constexpr std::int64_t fileSamples = 50'000'000; // 100 MB of 16-bit samples, about 52 minutes

struct Recording {
    std::string folder;
    std::string path;
    Recording() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "wav-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        path = folder + "/rec.wav";
        WAVWriter writer(path);
        std::vector<std::int16_t> second(16000);
        for (std::int64_t done = 0; done < fileSamples; done += std::int64_t(second.size())) {
            for (std::size_t i = 0; i < second.size(); ++i)
                second[i] = std::int16_t((done + std::int64_t(i)) * 7);
            writer.write(std::span(second).first(
                std::size_t(std::min<std::int64_t>(16000, fileSamples - done))));
        }
    }
    ~Recording() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

const Recording& recording() {
    static const Recording shared;
    return shared;
}

// Peak resident memory after reading 20 minutes: the float result (76.8 MB) and no copy of
// the file's 38.4 MB besides it. Registered first, before anything larger was allocated.
void twentyMinutesPeakMemory(benchmark::State& state) {
    const auto& path = recording().path;
    for (auto _ : state) {
        WAVReader reader(path);
        auto samples = reader.samples(0, 20 * 60 * 16000);
        benchmark::DoNotOptimize(samples);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["maxRSS_MB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(twentyMinutesPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void open(benchmark::State& state) {
    const auto& path = recording().path;
    for (auto _ : state)
        benchmark::DoNotOptimize(WAVReader(path).sampleCount);
}
BENCHMARK(open)->Unit(benchmark::kMicrosecond);

// Opening and taking every sample as floats, as the recogniser does with a finished file.
void allSamples(benchmark::State& state) {
    const auto& path = recording().path;
    for (auto _ : state) {
        WAVReader reader(path);
        benchmark::DoNotOptimize(reader.samples(0, reader.sampleCount));
    }
    state.SetBytesProcessed(state.iterations() * fileSamples * 2);
}
BENCHMARK(allSamples)->Unit(benchmark::kMillisecond);

// A live pass: the last 12 s of a growing file, header ignored.
void tailSamples(benchmark::State& state) {
    const auto& path = recording().path;
    for (auto _ : state) {
        WAVReader reader(path, true);
        benchmark::DoNotOptimize(
            reader.samples(reader.sampleCount - 12 * 16000, reader.sampleCount));
    }
}
BENCHMARK(tailSamples)->Unit(benchmark::kMicrosecond);

// The same with the heap keeping its pages: what remains is the reader's own work (pread and
// conversion), without the first touch of a fresh 200 MB result that dominates above.
void allSamplesWarmHeap(benchmark::State& state) {
    const auto& path = recording().path;
    ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::DoNotOptimize(WAVReader(path).samples(0, fileSamples));
    for (auto _ : state) {
        WAVReader reader(path);
        benchmark::DoNotOptimize(reader.samples(0, reader.sampleCount));
    }
    state.SetBytesProcessed(state.iterations() * fileSamples * 2);
}
BENCHMARK(allSamplesWarmHeap)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
