// The runtime layer on the full-size stand-in model: what one 20 s window costs in each
// stage, and what a single decoder or joint run costs through a reused binding. The CPU
// column counts every thread of the process, so on a busy machine it still shows the work
// done (the encoder and preprocessor use 2 threads; the loop's sessions use 1).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sys/resource.h>

#include "bench_model.h"
#include "recognition/ort.h"
#include "recognition/ort_binding.h"
#include "recognition/ort_session.h"

using namespace talvoro;

namespace {

const std::string folder = bench::benchModelFolder() + "/";
constexpr std::int64_t hidden = 320;
constexpr std::int64_t blank = 1024;

// 20 s of syllable-like sound: noise and a gliding tone, switched on and off four times a
// second.
std::vector<float> speechLike() {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<float> samples(20 * 16000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double t = i / 16000.0;
        double envelope = std::fmod(t * 4, 1.0) < 0.6 ? 1.0 : 0.02;
        double pitch = 150 + 60 * std::sin(t * 1.3);
        samples[i] = static_cast<float>(
            envelope * (0.3 * std::sin(2 * std::numbers::pi * pitch * t) + noise(random)));
    }
    return samples;
}

struct Model {
    ORT::Session preprocessor{folder + "gigaam-v3-preprocessor.onnx", 2,
                              ORT::Session::Where::processor};
    ORT::Session encoder{folder + "gigaam-v3-encoder.onnx", 2, ORT::Session::Where::processor};
    ORT::Session decoder{folder + "gigaam-v3-decoder.onnx", 1, ORT::Session::Where::processor};
    ORT::Session joint{folder + "gigaam-v3-joint.onnx", 1, ORT::Session::Where::processor};
    std::vector<float> samples = speechLike();

    std::map<std::string, ORT::Tensor> features() {
        auto n = static_cast<std::int64_t>(samples.size());
        std::map<std::string, ORT::Tensor> inputs;
        inputs.emplace("waveforms", ORT::Tensor(samples, {1, n}));
        inputs.emplace("waveforms_lens", ORT::Tensor(std::vector<std::int64_t>{n}, {1}));
        auto out = preprocessor.run(std::move(inputs), {"features", "features_lens"});
        ORT::releaseInputs();
        return out;
    }
    std::map<std::string, ORT::Tensor> encode(const std::map<std::string, ORT::Tensor>& f) {
        std::map<std::string, ORT::Tensor> inputs;
        inputs.emplace("audio_signal", f.at("features"));
        inputs.emplace("length", f.at("features_lens"));
        auto out = encoder.run(std::move(inputs), {"encoded", "encoded_len"});
        ORT::releaseInputs();
        return out;
    }
};

Model& model() {
    static Model shared;
    return shared;
}

// The encoder output with each frame contiguous, made once per window.
struct Frames {
    std::int64_t d = 0, t = 0;
    std::vector<float> values;
};

Frames frames() {
    static Frames made = [] {
        auto encoded = model().encode(model().features());
        const ORT::Tensor& e = encoded.at("encoded");
        Frames f;
        f.d = e.shape[1];
        f.t = e.shape[2];
        std::vector<float> channels = e.floats();
        f.values.resize(channels.size());
        for (std::int64_t d = 0; d < f.d; ++d)
            for (std::int64_t t = 0; t < f.t; ++t)
                f.values[t * f.d + d] = channels[d * f.t + t];
        return f;
    }();
    return made;
}

struct Loop {
    std::int64_t token = blank;
    std::vector<float> frame, dec = std::vector<float>(hidden), h = std::vector<float>(hidden),
                              c = std::vector<float>(hidden);
    ORT::Binding step{model().decoder, {"x", "h.1", "c.1"}, {"dec", "h", "c"}};
    ORT::Binding score{model().joint, {"enc", "dec"}, {"joint"}};
    std::int64_t jointRuns = 0, decoderRuns = 0, tokens = 0;

    explicit Loop(std::int64_t d) : frame(d) {
        step.lend(0, &token, {1, 1});
        step.lend(1, h.data(), {1, 1, hidden});
        step.lend(2, c.data(), {1, 1, hidden});
        score.lend(0, frame.data(), {1, d, 1});
        score.lend(1, dec.data(), {1, hidden, 1});
    }
    void advance() {
        step.run(true);
        ++decoderRuns;
        std::copy_n(step.floats(0).data(), hidden, dec.data());
        std::copy_n(step.floats(1).data(), hidden, h.data());
        std::copy_n(step.floats(2).data(), hidden, c.data());
    }
    void decode(const Frames& f) {
        token = blank;
        std::fill(h.begin(), h.end(), 0.0f);
        std::fill(c.begin(), c.end(), 0.0f);
        advance();
        for (std::int64_t t = 0; t < f.t; ++t) {
            std::copy_n(f.values.data() + t * f.d, f.d, frame.data());
            for (int emitted = 0; emitted < 10; ++emitted) {
                score.run(true);
                ++jointRuns;
                auto scores = score.floats(0);
                std::size_t best = 0;
                for (std::size_t k = 1; k < scores.size(); ++k)
                    if (scores[k] > scores[best])
                        best = k;
                if (static_cast<std::int64_t>(best) == blank)
                    break;
                ++tokens;
                token = static_cast<std::int64_t>(best);
                advance();
            }
        }
    }
};

void Preprocessor20s(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(model().features());
}
BENCHMARK(Preprocessor20s)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void Encoder20s(benchmark::State& state) {
    auto features = model().features();
    for (auto _ : state)
        benchmark::DoNotOptimize(model().encode(features));
    state.counters["frames"] = static_cast<double>(frames().t);
}
BENCHMARK(Encoder20s)->Unit(benchmark::kMillisecond)->Iterations(5)->MeasureProcessCPUTime();

void DecodingLoop20s(benchmark::State& state) {
    const Frames& f = frames();
    Loop loop(f.d);
    for (auto _ : state)
        loop.decode(f);
    double runs = static_cast<double>(state.iterations());
    state.counters["joint_runs"] = static_cast<double>(loop.jointRuns) / runs;
    state.counters["decoder_runs"] = static_cast<double>(loop.decoderRuns) / runs;
    state.counters["tokens_per_s_audio"] = static_cast<double>(loop.tokens) / runs / 20.0;
    state.counters["joint_per_s"] =
        benchmark::Counter(static_cast<double>(loop.jointRuns), benchmark::Counter::kIsRate);
    state.counters["decoder_per_s"] =
        benchmark::Counter(static_cast<double>(loop.decoderRuns), benchmark::Counter::kIsRate);
}
BENCHMARK(DecodingLoop20s)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void JointRun(benchmark::State& state) {
    Loop loop(frames().d);
    std::copy_n(frames().values.data(), frames().d, loop.frame.data());
    for (auto _ : state)
        loop.score.run(true);
}
BENCHMARK(JointRun)->Unit(benchmark::kMicrosecond);

void DecoderRun(benchmark::State& state) {
    Loop loop(frames().d);
    for (auto _ : state)
        loop.advance();
}
BENCHMARK(DecoderRun)->Unit(benchmark::kMicrosecond);

void OpenEncoder(benchmark::State& state) {
    for (auto _ : state)
        ORT::Session session(folder + "gigaam-v3-encoder.onnx", 2, ORT::Session::Where::processor);
}
BENCHMARK(OpenEncoder)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    frames(); // opens the sessions and encodes once, outside every timing
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %.0f MiB\n", usage.ru_maxrss / 1024.0);
}
