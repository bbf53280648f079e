// The model download over loopback: a 200 MB file from the tests' file server (a separate
// process, sending with sendfile), written into a temporary model folder. Reports the
// throughput and this process's processor time (all threads, user + system) per 100 MB.
// verifyEncoder: what a start costs that finds the encoder without a verdict, the SHA-256 of
// a file the size of the published encoder (read from the page cache after the first pass).
#include <QCoreApplication>
#include <QEventLoop>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/resource.h>

#include "download/gigaam_download.h"
#include "download/model_server.h"
#include "download/part_check.h"

namespace {

using namespace talvoro;

constexpr std::int64_t fileBytes = 200'000'000;

double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void download200MB(benchmark::State& state) {
    int argc = 1;
    char name[] = "download_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    testing::ModelServer server;
    const std::string served = server.put("big.bin", "");
    std::filesystem::resize_file(served, fileBytes); // zeros, sparse
    testing::TempDir models;
    const std::vector<GigaAMDownload::Part> parts = {
        {"big.bin", "big.local", fileBytes, PartCheck::sha256(served)}};

    double processor = 0, wall = 0;
    for (auto _ : state) {
        std::filesystem::remove(models / "big.local");
        QEventLoop loop;
        bool done = false;
        GigaAMDownload download(
            models.path(), {server.base("ok")},
            [&](const GigaAMDownload::Event& event) {
                if (std::holds_alternative<GigaAMDownload::Progress>(event))
                    return;
                done = std::holds_alternative<GigaAMDownload::Done>(event);
                loop.quit();
            },
            parts);
        const double cpuBefore = processorSeconds();
        const auto start = std::chrono::steady_clock::now();
        download.start();
        loop.exec();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        processor += processorSeconds() - cpuBefore;
        if (!done)
            state.SkipWithError("the download failed");
    }
    const double hundreds = double(fileBytes) * double(state.iterations()) / 100e6;
    state.counters["MB_per_s"] = hundreds * 100 / wall;
    state.counters["cpu_s_per_100MB"] = processor / hundreds;
    state.SetBytesProcessed(fileBytes * state.iterations());
}
BENCHMARK(download200MB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void verifyEncoder(benchmark::State& state) {
    const std::int64_t encoderBytes = publishedModelParts().front().bytes;
    testing::TempDir dir;
    const std::string file = dir.write("encoder.onnx", "");
    {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 2654435761u >> 24); // not sparse, not all zeros
        for (std::int64_t left = encoderBytes; left > 0; left -= std::int64_t(block.size()))
            std::fwrite(block.data(), 1, std::size_t(std::min<std::int64_t>(left, block.size())),
                        out);
        std::fclose(out);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(PartCheck::sha256(file));
    state.SetBytesProcessed(encoderBytes * state.iterations());
}
BENCHMARK(verifyEncoder)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
