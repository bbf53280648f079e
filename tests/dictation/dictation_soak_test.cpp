// Hundreds of whole dictations in a row on the real stack (the e2e test's: Xvfb, the hotkey
// through XTest, a PulseAudio null sink, the live stream and the generated test model, the
// real paste into a Qt field), watching what a long-running program must not lose or leak.
//
// Skipped unless TALVORO_SOAK is set, since it runs for about a quarter of an hour:
//   TALVORO_SOAK=1 ctest -L soak -V                           (300 dictations, figures)
//   TALVORO_SOAK=1 TALVORO_SOAK_DICTATIONS=40 tests/dictation/dictation_soak_test
#include <QCoreApplication>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "audio/wav_writer.h"
#include "dictation/dictation_controller.h"
#include "hotkey/x11_key_client.h"
#include "insertion/atspi_focus_source.h"
#include "insertion/frontmost_app.h"
#include "insertion/paste_keystroke.h"
#include "insertion/pasteboard.h"
#include "insertion/paster_x11_support.h"
#include "recognition/gigaam_transcriber.h"
#include "support/event_loop.h"
#include "support/pulse_server.h"
#include "support/run_program.h"
#include "support/sink_player.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;
using Kind = DictationState::Kind;

const std::string modelFolder = TALVORO_BINARY_DIR "/test-models/gigaam";

// Seven words the test model hears, one tone each: a dictation's number in three base-7 digits.
struct ToneWord {
    double frequency;
    const char* word;
};
constexpr ToneWord digits[] = {{300, "привет"}, {450, "мир"},  {600, "как"},    {800, "дела"},
                               {1250, "да"},    {1500, "нет"}, {4400, "готово"}};

// The words of dictation n, and its tones: 0.32 s each after as much silence.
std::vector<const ToneWord*> wordsOf(int n) {
    return {&digits[n / 49 % 7], &digits[n / 7 % 7], &digits[n % 7]};
}
std::string textOf(int n) {
    std::string text;
    for (const ToneWord* word : wordsOf(n))
        text += (text.empty() ? "" : " ") + std::string(word->word);
    return text;
}
void writeTones(const std::string& path, int n) {
    std::vector<std::int16_t> samples;
    for (const ToneWord* word : wordsOf(n)) {
        samples.resize(samples.size() + 5120, 0);
        for (int i = 0; i < 5120; ++i)
            samples.push_back(static_cast<std::int16_t>(
                16000 * std::sin(2 * std::numbers::pi * word->frequency * i / 16000.0)));
    }
    samples.resize(samples.size() + 5120, 0);
    WAVWriter writer(path);
    writer.write(samples);
    writer.close();
}

std::size_t entries(const std::string& folder) {
    std::error_code error;
    std::size_t n = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        ++n;
    return n;
}
std::size_t openFiles() {
    return entries("/proc/self/fd");
}
std::size_t threads() {
    return entries("/proc/self/task");
}
double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    return 0;
}
std::size_t wavsIn(const std::string& folder) {
    std::error_code error;
    std::size_t n = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        n += it->path().extension() == ".wav";
    return n;
}

class DictationSoak : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("TALVORO_SOAK"))
            GTEST_SKIP() << "set TALVORO_SOAK=1 to run the soak";
        application();
        if (!xvfb.running() || !pulse.running())
            GTEST_SKIP() << "needs Xvfb and pulseaudio";
        ::unsetenv("AT_SPI_BUS_ADDRESS");
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        bus.emplace(dir.path());
        typist.emplace();
        target.emplace(dir.path(), "field");
        ASSERT_TRUE(target->waitUntilActive());
        config.dictationDir = dir / "Dictation";
        config.dictFile = dir.write("замены.txt", "");
        config.polishEnabled = false;

        DictationSeams seams;
        seams.insertion = std::make_shared<InsertionSeams>(InsertionSeams{
            makeSystemPasteboard(), makeSystemPasteKeystroke(), makeSystemFrontmostAppSource(),
            std::make_shared<AtspiFocusSource>(), makeSystemPasteboard("PRIMARY"), nullptr});
        controller = DictationController::create(
            config, std::make_shared<GigaAMTranscriber>(modelFolder),
            [this](const DictationState& state) { last = describe(state); }, std::move(seams));
        controller->finalStateLinger = 0.05;
        controller->start();
    }
    void TearDown() override { controller.reset(); }

    void altSpace() {
        typist->press(keysym::altL);
        typist->tap(keysym::space);
        typist->release(keysym::altL);
    }
    void play(const std::string& wav) { playIntoTestSink(wav); }
    // One toggle dictation of number n. Answers what it added to the field, after what was
    // there before; nothing when the field did not grow from `before`.
    std::optional<std::string> dictate(int n, const std::string& before) {
        const std::string tones = dir / "тоны.wav";
        writeTones(tones, n);
        altSpace();
        if (!processUntil([&] { return controller->state().is(Kind::recording); }, 10))
            return std::nullopt;
        play(tones);
        altSpace();
        std::string typed;
        const bool grew = processUntil([&] {
            typed = target->typed();
            return typed.size() > before.size() && controller->state().is(Kind::idle);
        });
        if (!grew || typed.rfind(before, 0) != 0)
            return std::nullopt;
        return typed.substr(before.size());
    }

    // The newest kept recording (the dictation just made).
    fs::path newestSample() const {
        fs::path newest;
        std::error_code error;
        for (fs::directory_iterator it(config.dictationDir + "/samples", error), end;
             !error && it != end; it.increment(error))
            if (it->path().extension() == ".wav" &&
                (newest.empty() || fs::last_write_time(it->path()) > fs::last_write_time(newest)))
                newest = it->path();
        return newest;
    }

    // The newest kept recording, copied out of the test's folder for a look after a failure.
    std::string keepNewestSample() const {
        const fs::path newest = newestSample();
        if (newest.empty())
            return "(none)";
        const fs::path kept = fs::temp_directory_path() / "talvoro-soak-failed.wav";
        std::error_code error;
        fs::copy_file(newest, kept, fs::copy_options::overwrite_existing, error);
        return error ? "(not copied)" : kept.string();
    }

    XvfbServer xvfb;
    PulseServer pulse;
    TempDir dir;
    std::optional<SessionBus> bus;
    std::optional<PasteTarget> target;
    std::optional<Typist> typist;
    Config config;
    std::shared_ptr<DictationController> controller;
    std::string last;
};

TEST_F(DictationSoak, HundredsOfDictationsArriveInOrderAndLeaveNothingBehind) {
    const char* wanted = std::getenv("TALVORO_SOAK_DICTATIONS");
    const int total = wanted ? std::max(21, std::atoi(wanted)) : 300;
    const auto began = std::chrono::steady_clock::now();
    std::string field;
    std::size_t files = 0, workers = 0;
    double afterTwenty = 0;
    // Now and then the test model hears a tone of the played-back audio as several words; the
    // field must then hold exactly what it heard in that recording.
    GigaAMTranscriber referee(modelFolder);
    referee.prepare(); // its threads belong to the starting count
    int misheard = 0;
    for (int n = 0; n < total; ++n) {
        const std::optional<std::string> added = dictate(n, field);
        ASSERT_TRUE(added) << "dictation " << n << " («" << textOf(n) << "»): the field ends «"
                           << target->typed().substr(std::min(field.size(), target->typed().size()))
                           << "», state " << last << "; its recording kept as "
                           << keepNewestSample();
        if (*added != textOf(n)) {
            ++misheard;
            ASSERT_EQ(*added, referee.transcribe(newestSample().string()))
                << "dictation " << n << " («" << textOf(n) << "»); its recording kept as "
                << keepNewestSample();
        }
        field += *added;
        if (n == 0) { // every part that starts on first use has started
            files = openFiles();
            workers = threads();
        }
        if (n == 19)
            afterTwenty = residentMegabytes();
    }
    // Threads that drop a stream or restore the clipboard may still be finishing.
    const bool settled =
        processUntil([&] { return openFiles() == files && threads() == workers; }, 10);
    const double grown = residentMegabytes() - afterTwenty;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("soak: %d dictations in %.0f s (%d heard otherwise by the test model, each "
                "as its recording says); open files %zu → %zu, threads %zu → %zu; resident "
                "memory %.1f MB after 20, %+.1f MB since (goal ≤ 5 MB)\n",
                total, seconds, misheard, files, openFiles(), workers, threads(), afterTwenty,
                grown);
    EXPECT_TRUE(settled) << "open files " << files << " → " << openFiles() << ", threads "
                         << workers << " → " << threads();
    EXPECT_LE(grown, 5.0);
    EXPECT_EQ(wavsIn(config.dictationDir), 0u);
    EXPECT_EQ(wavsIn(config.dictationDir + "/pending"), 0u);
    EXPECT_EQ(controller->pendingCount(), 0);
}

} // namespace
} // namespace talvoro
