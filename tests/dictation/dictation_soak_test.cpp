// Hundreds of whole dictations in a row on the real stack (the e2e test's: Xvfb, the hotkey
// through XTest, a PulseAudio null sink, the live stream and the generated test model, the
// real paste into a Qt field), watching what a long-running program must not lose or leak.
//
// Skipped unless TALVORO_SOAK is set, since it runs for about a quarter of an hour:
//   TALVORO_SOAK=1 ctest -L soak -V                           (300 dictations, figures)
//   TALVORO_SOAK=1 TALVORO_SOAK_DICTATIONS=40 tests/dictation/dictation_soak_test
#include <cstdio>
#include <fstream>

#include "audio/wav_writer.h"
#include "real_stack_rig.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;
using Kind = DictationState::Kind;

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
    std::vector<double> frequencies;
    for (const ToneWord* word : wordsOf(n))
        frequencies.push_back(word->frequency);
    WAVWriter writer(path);
    writer.write(toneWords(frequencies, 5120));
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

class DictationSoak : public RealStackRig {
protected:
    void SetUp() override {
        if (!std::getenv("TALVORO_SOAK"))
            GTEST_SKIP() << "set TALVORO_SOAK=1 to run the soak";
        RealStackRig::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(bus) << "the soak needs dbus-daemon for the focus lookup";
        config.dictFile = dir.write("замены.txt", "");
        create(std::make_shared<GigaAMTranscriber>(testModelFolder),
               [this](const DictationState& state) { last = describe(state); });
        controller->finalStateLinger = 0.05;
        controller->start();
    }
    void TearDown() override { controller.reset(); }

    // One toggle dictation of number n. Answers what it added to the field, after what was
    // there before; nothing when the field did not grow from `before`.
    std::optional<std::string> dictate(int n, const std::string& before) {
        const std::string tones = dir / "тоны.wav";
        writeTones(tones, n);
        altSpace();
        if (!processUntil([&] { return controller->state().is(Kind::recording); }, 10))
            return std::nullopt;
        playIntoTestSink(tones);
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
        for (const fs::path& wav : wavs(config.dictationDir + "/samples"))
            if (newest.empty() || fs::last_write_time(wav) > fs::last_write_time(newest))
                newest = wav;
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
    GigaAMTranscriber referee(testModelFolder);
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
    EXPECT_TRUE(wavs(config.dictationDir).empty());
    EXPECT_TRUE(wavs(config.dictationDir + "/pending").empty());
    EXPECT_EQ(controller->pendingCount(), 0);
}

} // namespace
} // namespace talvoro
