// The audio-thread cost of TrackSink::append, and the time from DictationRecorder::start to
// the first captured buffer reaching the sink on a private PulseAudio server.
#include "audio/dictation_recorder.h"
#include "audio/host_time.h"
#include "audio/pulse_audio_capture.h"
#include "audio/scripted_capture.h"
#include "audio/track_sink.h"
#include "support/pulse_server.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>
#include <time.h>
#include <vector>

namespace talvoro {
namespace {

using Clock = std::chrono::steady_clock;

void reportMicroseconds(benchmark::State& state, std::vector<double> us, const char* unit = "us") {
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters[std::string("median_") + unit] = us[us.size() / 2];
    state.counters[std::string("p99_") + unit] = us[us.size() * 99 / 100];
    state.counters[std::string("worst_") + unit] = us.back();
}

double threadCpuMicroseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// One 2048-frame buffer of 48 kHz stereo floats per call, stamped back to back, while the
// drain writes to the file every 0.2 s as it does while recording.
void BM_AppendStereo48kFloat(benchmark::State& state) {
    testing::TempDir dir;
    TrackSink sink("dictation", dir / "bench.wav");
    const AudioFormat format{48000, 2, SampleType::float32};
    auto chunk = makeChunk(format, 2048, 0, [](std::int64_t f) {
        return 0.3 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(f) / 48000);
    });
    AudioBuffer buffer{format, chunk.bytes.data(), 2048};
    std::vector<double> us, cpuUs;
    std::uint64_t host = HostTime::now();
    for (auto _ : state) {
        auto began = Clock::now();
        double cpuBegan = threadCpuMicroseconds();
        sink.append(buffer, host);
        cpuUs.push_back(threadCpuMicroseconds() - cpuBegan);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - began).count());
        host += HostTime::ticks(2048 / 48000.0);
        // About eight times real time: the drain still runs every 40 buffers or so.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sink.close();
    // The first buffer also makes the converter (filter design included): reported apart.
    state.counters["first_us"] = us.front();
    state.counters["first_cpu_us"] = cpuUs.front();
    us.erase(us.begin());
    cpuUs.erase(cpuUs.begin());
    reportMicroseconds(state, std::move(us));
    // The thread's own processor time: the wall figures include time the (shared, loaded)
    // machine gave to other threads.
    reportMicroseconds(state, std::move(cpuUs), "cpu_us");
}
BENCHMARK(BM_AppendStereo48kFloat)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// Passes every buffer on and notes when the first one of a recording arrived.
class FirstBufferProbe final : public AudioCapture {
public:
    explicit FirstBufferProbe(std::unique_ptr<AudioCapture> inner) : inner(std::move(inner)) {}
    InputStatus inputStatus() override { return inner->inputStatus(); }
    void start(Callback callback) override {
        inner->start([this, callback](const AudioBuffer& buffer, std::uint64_t hostTime) {
            callback(buffer, hostTime);
            if (!arrived.exchange(true))
                firstAt = Clock::now();
        });
    }
    void stop() override { inner->stop(); }
    void setLostHandler(Lost lost) override { inner->setLostHandler(std::move(lost)); }

    std::atomic<bool> arrived = false;
    Clock::time_point firstAt;

private:
    std::unique_ptr<AudioCapture> inner;
};

// From the call to start (recorder warmed up) until the sink has taken the first buffer.
void BM_StartToFirstSample(benchmark::State& state) {
    testing::PulseServer server;
    if (!server.running()) {
        state.SkipWithError("no pulseaudio daemon could be started");
        return;
    }
    testing::TempDir dir;
    auto probe = std::make_unique<FirstBufferProbe>(std::make_unique<PulseAudioCapture>());
    FirstBufferProbe* seen = probe.get();
    DictationRecorder recorder(std::move(probe));
    std::vector<double> ms;
    recorder.warmUp(); // on the recorder's own thread, done before the next start is asked for
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (auto _ : state) {
        seen->arrived = false;
        auto began = Clock::now();
        recorder.start(dir / "bench.wav");
        while (!seen->arrived && Clock::now() - began < std::chrono::seconds(3))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (seen->arrived)
            ms.push_back(std::chrono::duration<double, std::milli>(seen->firstAt - began).count());
        recorder.stop();
        recorder.warmUp();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    state.counters["missed"] = static_cast<double>(state.iterations() - ms.size());
    reportMicroseconds(state, std::move(ms), "ms");
}
BENCHMARK(BM_StartToFirstSample)->Iterations(50)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talvoro

BENCHMARK_MAIN();
