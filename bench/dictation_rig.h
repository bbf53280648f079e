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
#include <ctime>
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
#include "recognition/speech_cuts.h"
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

// The sentence the bench talker says, syllable by syllable: each syllable is a pure tone of its
// own pitch, so that a listener that knows the pitches hears which syllable it was, and a
// syllable cut by a seam comes out garbled.
struct Syllable {
    const char* text;
    double hertz;
    bool startsWord;
    bool endsSentence;
};
inline constexpr Syllable sentence[] = {{"при", 210, true, false}, {"вет", 270, false, false},
                                        {"мир", 340, true, false}, {"го", 430, true, false},
                                        {"то", 540, false, false}, {"во", 680, false, true}};
inline constexpr double syllableSeconds = 0.2, syllableGap = 0.05, wordGap = 0.12;
inline constexpr double sentencePause = 0.5;
inline const std::string sentenceText = "привет мир готово.";

// The sentence and a half-second pause, over and over, for at least `seconds`; whole sentences.
inline std::vector<std::int16_t> spokenSentences(double seconds, int* count = nullptr) {
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.002);
    std::vector<std::int16_t> samples;
    auto add = [&](double length, double hertz) {
        const auto n = static_cast<std::size_t>(length * rate);
        const double ramp = 0.01 * rate;
        for (std::size_t i = 0; i < n; ++i) {
            const double envelope = hertz > 0 ? std::min({1.0, i / ramp, (n - i) / ramp}) : 0.0;
            const double value =
                0.3 * envelope * std::sin(2 * std::numbers::pi * hertz * i / rate) + noise(random);
            samples.push_back(
                static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767)));
        }
    };
    int said = 0;
    while (static_cast<double>(samples.size()) < seconds * rate) {
        for (std::size_t i = 0; i < std::size(sentence); ++i) {
            if (i > 0)
                add(sentence[i].startsWord ? wordGap : syllableGap, 0);
            add(syllableSeconds, sentence[i].hertz);
        }
        add(sentencePause, 0);
        ++said;
    }
    if (count)
        *count = said;
    return samples;
}

// What the bench talker's sentences read as in one window: a syllable heard whole becomes its
// text, a syllable cut short "?". Bursts above the noise are syllables; the zero crossings give
// the pitch.
inline std::string heardSyllables(std::span<const float> samples) {
    constexpr std::size_t frame = 160; // 10 ms
    std::string text;
    std::size_t first = 0, voiced = 0;
    auto hear = [&](std::size_t end) {
        const std::size_t length = end - first;
        if (voiced < 3)
            return;
        // Crossings with hysteresis: the noise around the syllable's ramps and the silent edge
        // of its last frame flips the sign often enough to raise the pitch by a syllable.
        int crossings = 0;
        int side = 0;
        for (std::size_t i = first; i < end; ++i) {
            const int now = samples[i] > 0.05f ? 1 : samples[i] < -0.05f ? -1 : side;
            crossings += side != 0 && now != side;
            side = now;
        }
        const double hertz = crossings / 2.0 / (static_cast<double>(length) / rate);
        const Syllable* best = &sentence[0];
        for (const Syllable& each : sentence)
            if (std::abs(each.hertz - hertz) < std::abs(best->hertz - hertz))
                best = &each;
        const bool whole = static_cast<double>(length) >= 0.17 * rate;
        if (!text.empty() && (!whole || best->startsWord || text.back() == '?'))
            text += ' ';
        text += whole ? best->text : "?";
        if (whole && best->endsSentence)
            text += '.';
    };
    for (std::size_t at = 0; at < samples.size(); at += frame) {
        const std::size_t end = std::min(samples.size(), at + frame);
        double energy = 0;
        for (std::size_t i = at; i < end; ++i)
            energy += samples[i] * samples[i];
        const bool loud = std::sqrt(energy / static_cast<double>(end - at)) > 0.03;
        if (loud) {
            if (voiced == 0)
                first = at;
            ++voiced;
        } else if (voiced > 0) {
            hear(at);
            voiced = 0;
        }
    }
    if (voiced > 0)
        hear(samples.size());
    return text;
}

// The stand-in's random weights hear no words. This runs the whole recognition for its cost and
// answers what the bench talker said, window by window as the recogniser cuts the samples, so
// that a seam through a syllable shows in the text. A whole recording of silence still reads as
// "слово", so that every dictation ends with a paste; a live piece of silence reads as nothing,
// as the real model's does.
class Worded : public DictationTranscriber, public LocalDictationStream::Engine {
public:
    // preparing false: the recogniser loads on the first recognition, as before the
    // background load existed.
    Worded(std::shared_ptr<GigaAMTranscriber> model, bool preparing = true)
        : model(std::move(model)), preparing(preparing) {}

    std::string transcribe(const std::string& path, std::stop_token stop) override {
        model->transcribe(path, stop);
        const WAVReader reader(path);
        return worded(heard(reader.samples(0, reader.sampleCount), 0, reader.sampleCount));
    }
    std::string identity() const override { return model->identity(); }
    void prepare(std::stop_token stop) override {
        if (preparing)
            model->prepare(stop);
    }
    std::string transcribe(std::span<const float> samples, std::stop_token stop) override {
        model->transcribe(samples, stop);
        return heard(samples, 0, static_cast<std::int64_t>(samples.size()));
    }

    // The windows' texts in [0, upTo), cut as the recogniser cuts all the samples.
    std::string heard(std::span<const float> samples, std::int64_t from, std::int64_t upTo) const {
        std::string text;
        const auto window = static_cast<std::int64_t>(model->windowSeconds * rate);
        for (const SampleRange& range : SpeechCuts::split(samples, window)) {
            if (range.start < from || range.end > upTo ||
                range.length() < GigaAMTranscriber::shortestWindow)
                continue;
            const std::string piece = heardSyllables(samples.subspan(
                static_cast<std::size_t>(range.start), static_cast<std::size_t>(range.length())));
            if (!piece.empty())
                text += (text.empty() ? "" : " ") + piece;
        }
        return text;
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

    // Plays the recording into the test sink; as long as it lasts, and a margin.
    void play(const std::string& wav) {
        const WAVReader reader(wav);
        std::atomic<bool> done = false;
        std::thread player([&] {
            runProgram("paplay --latency-msec=3000 --device=" + PulseServer::sinkName() + " '" +
                       wav + "'");
            done = true;
        });
        turnUntil([&] { return done.load(); },
                  60 + static_cast<double>(reader.sampleCount) / reader.sampleRate);
        player.join();
    }

    struct Dictation {
        double wait = 0;  // seconds from letting go to the text in the field
        double cores = 0; // this process's processor time over the time it recorded
        std::string text; // what the field got
    };
    // Held Alt+Space while the audio plays.
    Dictation dictate(const std::string& wav) {
        const std::string before = target->typed();
        typist->press(keysym::altL);
        typist->press(keysym::space);
        turnUntil([&] { return is(DictationState::Kind::recording); });
        const auto recording = Clock::now();
        const double cpuBefore = processorSeconds();
        play(wav);
        Dictation result;
        result.cores = (processorSeconds() - cpuBefore) / since(recording);
        const auto released = Clock::now();
        typist->release(keysym::space);
        typist->release(keysym::altL);
        turnUntil([&] { return target->typed() != before; });
        result.wait = since(released);
        if (std::getenv("DICTATION_BENCH_VERBOSE"))
            std::fprintf(stderr, "%.3f released, %.3f text in the field (%s)\n",
                         uptime() - result.wait, uptime(),
                         controller->lastInsertNote().value_or("—").c_str());
        turnUntil([&] { return is(DictationState::Kind::idle); });
        const std::string after = target->typed();
        result.text = after.rfind(before, 0) == 0 ? after.substr(before.size()) : after;
        return result;
    }
    double releaseToText(const std::string& wav) { return dictate(wav).wait; }

    static double processorSeconds() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }

    // The encoder alone on these samples (one window).
    double encoderSeconds(const std::vector<float>& samples) {
        GigaAMTiming timing;
        recogniser->transcribeTimed(samples, timing);
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
