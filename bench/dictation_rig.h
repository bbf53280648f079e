// The real dictation stack for the benchmarks: an Xvfb and a PulseAudio daemon of its own, a Qt
// text field in focus, the hotkey pressed through XTest, audio played into the null sink, the
// live stream on a given model, the real paste.
#pragma once

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>
#include <thread>

#include "audio/wav_reader.h"
#include "audio/wav_writer.h"
#include "dictation/dictation_controller.h"
#include "hotkey/x11_key_client.h"
#include "insertion/atspi_focus_source.h"
#include "insertion/frontmost_app.h"
#include "insertion/paste_keystroke.h"
#include "insertion/paster_x11_support.h"
#include "recognition/gigaam_model.h"
#include "recognition/gigaam_transcriber.h"
#include "recognition/local_dictation_stream.h"
#include "support/pulse_server.h"
#include "support/run_program.h"
#include "support/sink_player.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace talvoro::bench {

using namespace talvoro::testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int rate = 16000;

// Voiced syllables with gliding pitch and pauses, as the other recognition benchmarks use.
inline std::vector<std::int16_t> speechLike(double seconds) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate));
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
        const double value = 0.2 * envelope * voiced + (pause ? 0.001 : 1.0) * noise(random);
        samples[i] = static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
    }
    return samples;
}

inline std::string writeWav(const std::string& path, const std::vector<std::int16_t>& samples) {
    WAVWriter writer(path);
    writer.write(samples);
    writer.close();
    return path;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Seconds on the monotonic clock, for the timeline DICTATION_BENCH_VERBOSE prints.
inline double uptime() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

inline double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline bool turnUntil(const std::function<bool()>& condition, double seconds = 60) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// The stand-in's random weights hear no words in most recordings, and a dictation without
// words pastes nothing. This runs the whole recognition and answers "слово" for an empty text,
// so that every dictation ends with a paste.
class Worded : public DictationTranscriber, public LocalDictationStream::Engine {
public:
    // preparing false: the recogniser loads on the first recognition, as before the
    // background load existed.
    Worded(std::shared_ptr<GigaAMTranscriber> model, bool preparing = true)
        : model(std::move(model)), preparing(preparing) {}

    std::string transcribe(const std::string& path, std::stop_token stop) override {
        return worded(model->transcribe(path, stop));
    }
    std::string identity() const override { return model->identity(); }
    void prepare(std::stop_token stop) override {
        if (preparing)
            model->prepare(stop);
    }
    std::string transcribe(std::span<const float> samples, std::stop_token stop) override {
        return worded(model->transcribe(samples, stop));
    }
    Look look(std::span<const float> samples, bool mayCut, std::stop_token stop) override {
        return model->look(samples, mayCut, stop);
    }

private:
    static std::string worded(std::string text) { return text.empty() ? "слово" : text; }
    const std::shared_ptr<GigaAMTranscriber> model;
    const bool preparing;
};

class Rig {
public:
    explicit Rig(std::string modelFolder)
        : folder(std::move(modelFolder)), recogniser(std::make_shared<GigaAMTranscriber>(folder)) {
        // A session bus with the accessibility bus, as on a desktop: the paste reads the focus
        // once (without it, the focus is missing and the paste waits to read it again).
        ::unsetenv("AT_SPI_BUS_ADDRESS");
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        bus.emplace(dir.path());
        target.emplace(dir.path(), "field");
        typist.emplace();
        config.dictationDir = dir / "Dictation";
        config.dictFile = dir / "замены.txt";
        config.polishEnabled = false;
    }

    bool ready() { return xvfb.running() && pulse.running() && target->waitUntilActive(); }

    // loaded: the model is in memory before the controller starts. Otherwise a fresh
    // recogniser, which the controller loads in the background when preparing, else on the
    // first recognition.
    void start(bool loaded = true, bool preparing = true) {
        controller.reset();
        if (loaded)
            recogniser->transcribe(std::vector<float>(rate, 0.0f));
        else
            recogniser = std::make_shared<GigaAMTranscriber>(folder);
        DictationSeams seams;
        seams.insertion = std::make_shared<InsertionSeams>(InsertionSeams{
            makeSystemPasteboard(), makeSystemPasteKeystroke(), makeSystemFrontmostAppSource(),
            std::make_shared<AtspiFocusSource>(), makeSystemPasteboard("PRIMARY"), nullptr});
        const bool verbose = std::getenv("DICTATION_BENCH_VERBOSE") != nullptr;
        controller = DictationController::create(
            config, std::make_shared<Worded>(recogniser, preparing),
            [verbose](const DictationState& state) {
                if (verbose)
                    std::fprintf(stderr, "%.3f state %s\n", uptime(), describe(state).c_str());
            },
            std::move(seams));
        if (verbose)
            controller->log = [](const std::string& line) {
                std::fprintf(stderr, "%.3f log %s\n", uptime(), line.c_str());
            };
        controller->finalStateLinger = 0.2;
        controller->start();
    }

    void play(const std::string& wav) { playIntoTestSink(wav); }

    // Held Alt+Space while the audio plays; seconds from letting go to the text in the field.
    double releaseToText(const std::string& wav) {
        const std::string before = target->typed();
        typist->press(keysym::altL);
        typist->press(keysym::space);
        turnUntil([&] { return is(DictationState::Kind::recording); });
        play(wav);
        const auto released = Clock::now();
        typist->release(keysym::space);
        typist->release(keysym::altL);
        turnUntil([&] { return target->typed() != before; });
        const double seconds = since(released);
        if (std::getenv("DICTATION_BENCH_VERBOSE"))
            std::fprintf(stderr, "%.3f released, %.3f text in the field (%s)\n", uptime() - seconds,
                         uptime(), controller->lastInsertNote().value_or("—").c_str());
        turnUntil([&] { return is(DictationState::Kind::idle); });
        return seconds;
    }

    // The encoder alone on the newest kept recording.
    double encoderSeconds() {
        fs::path newest;
        for (const auto& entry : fs::directory_iterator(config.dictationDir + "/samples"))
            if (entry.path().extension() == ".wav" &&
                (newest.empty() || fs::last_write_time(entry) > fs::last_write_time(newest)))
                newest = entry.path();
        const WAVReader reader(newest.string());
        GigaAMTiming timing;
        recogniser->transcribeTimed(reader.samples(0, reader.sampleCount), timing);
        return timing.encoderSeconds;
    }

    struct Press {
        double recording; // the recorder started
        double samples;   // the first captured buffer arrived
    };
    // Seconds from the hotkey press to the recorder's start and to the first captured buffer
    // (a tone is playing, so any buffer raises the level).
    Press pressToSamples() {
        controller->level();
        const auto pressed = Clock::now();
        typist->press(keysym::altL);
        typist->tap(keysym::space);
        typist->release(keysym::altL);
        turnUntil([&] { return is(DictationState::Kind::recording); }, 5);
        const double started = since(pressed);
        turnUntil([&] { return controller->level() > 0; }, 5);
        const double samples = since(pressed);
        typist->tap(keysym::escape);
        turnUntil([&] { return is(DictationState::Kind::idle); });
        return {started, samples};
    }

    bool is(DictationState::Kind kind) const { return controller->state().is(kind); }

    XvfbServer xvfb;
    PulseServer pulse;
    TempDir dir;
    std::optional<SessionBus> bus;
    std::optional<PasteTarget> target;
    std::optional<Typist> typist;
    Config config;
    const std::string folder;
    std::shared_ptr<GigaAMTranscriber> recogniser;
    std::shared_ptr<DictationController> controller;
};

} // namespace talvoro::bench
