#include <atomic>
#include <fstream>
#include <thread>

#include "audio/wav_format.h"
#include "base/journal.h"
#include "dictation/dictation_work.h"
#include "real_stack_rig.h"
#include "support/run_program.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;
namespace fs = std::filesystem;
using Kind = DictationState::Kind;

// "привет", "э-э" (a hesitation), "мир" and a full stop, as the test model hears them, with a
// pause before, between and after.
const std::vector<std::int16_t> phrase = toneWords({300, 1000, 450, 1800}, 6400);
const std::string heard = "здравствуй мир"; // after cleaning, the dictionary and the shape

// A 16 kHz recording whose header declares `declared` of its samples (a crash leaves fewer).
void writeRecording(const std::string& path, const std::vector<std::int16_t>& samples,
                    std::size_t declared) {
    const auto header = WAVFormat::header(16000, 1, declared * 2);
    std::string bytes(header.begin(), header.end());
    bytes.append(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string clipboardText() {
    return runProgram("timeout 5 xclip -selection clipboard -o 2>/dev/null").output;
}

// Holds the recognition of queued recordings until it is stopped or let go: a retry that takes
// its time.
class SlowQueue : public DictationTranscriber {
public:
    explicit SlowQueue(std::shared_ptr<DictationTranscriber> inner) : inner(std::move(inner)) {}
    std::string transcribe(const std::string& path, std::stop_token stop) override {
        while (path.find("/pending/") != std::string::npos && !released) {
            if (stop.stop_requested())
                throw TranscriptionCancelled();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return inner->transcribe(path, stop);
    }
    std::string identity() const override { return inner->identity(); }
    std::atomic<bool> released = false;

private:
    const std::shared_ptr<DictationTranscriber> inner;
};

class DictationEndToEnd : public RealStackRig {
protected:
    void SetUp() override {
        RealStackRig::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (const char* program : {"/usr/bin/paplay", "/usr/bin/xclip"})
            if (!haveProgram(program))
                GTEST_SKIP() << program << " is not installed";
        const std::string previous = dir.write("clip", "до диктовки");
        runProgram("xclip -selection clipboard -i '" + previous + "' >/dev/null 2>&1");
        ASSERT_TRUE(processUntil([] { return clipboardText() == "до диктовки"; }, 5));
        config.dictFile = dir.write("замены.txt", "привет = здравствуй\n");
        tones = dir / "тоны.wav";
        writeRecording(tones, phrase, phrase.size());
    }
    void TearDown() override {
        controller.reset();
        DictationWork::settle(); // no pass left inside the runtime when the test ends
    }

    void start(std::shared_ptr<DictationTranscriber> engine) {
        create(std::move(engine),
               [this](const DictationState& state) { lines.push_back("→ " + describe(state)); });
        controller->log = [this](const std::string& line) { lines.push_back(line); };
        controller->retryInterval = 1;
        controller->finalStateLinger = 0.3;
        controller->start();
    }
    static std::shared_ptr<DictationTranscriber> model() {
        return std::make_shared<GigaAMTranscriber>(testModelFolder);
    }

    bool waitFor(Kind kind, double seconds = 30) {
        return processUntil([&] { return controller->state().is(kind); }, seconds);
    }
    void expectTheTextDeliveredAndTidiedUp() {
        EXPECT_TRUE(processUntil([&] { return target->typed() == heard; }))
            << "the field holds «" << target->typed() << "»; " << history();
        EXPECT_TRUE(waitFor(Kind::inserted) || controller->state().is(Kind::idle));
        EXPECT_TRUE(processUntil([] { return clipboardText() == "до диктовки"; }, 5));
        EXPECT_TRUE(processUntil([&] { return wavs(config.dictationDir).empty(); }, 5));
        EXPECT_TRUE(wavs(config.dictationDir + "/pending").empty());
    }
    // What the controller said and did, for failure messages.
    std::string history() const {
        std::string text;
        for (const std::string& line : lines)
            text += line + "; ";
        return text;
    }

    std::string tones;
    std::vector<std::string> lines;
};

TEST_F(DictationEndToEnd, APressDuringARetryWinsAndTheRetryTypesAfterIt) {
    if (!bus)
        GTEST_SKIP() << "a retry types only where a text field is seen to have focus";
    fs::create_directories(config.dictationDir + "/pending");
    writeRecording(config.dictationDir + "/pending/2026-01-01 100001.wav", phrase, phrase.size());
    auto slow = std::make_shared<SlowQueue>(model());
    start(slow);
    EXPECT_EQ(controller->state(), DictationState::queued(1));
    ASSERT_TRUE(processUntil([&] {
        return history().find("пробую догнать очередь: 2026-01-01 100001.wav") != std::string::npos;
    })) << history();
    ASSERT_TRUE(controller->state().is(Kind::transcribing));
    altSpace(); // speaks at once, whatever the queue is doing
    ASSERT_TRUE(waitFor(Kind::recording, 5)) << history();
    playIntoTestSink(tones);
    altSpace();
    ASSERT_TRUE(processUntil([&] { return target->typed() == heard; })) << history();
    slow->released = true; // the retry, given its turn again, types into the focused field
    EXPECT_TRUE(processUntil([&] { return target->typed() == heard + heard; }, 60))
        << "the field holds «" << target->typed() << "»; " << history();
    EXPECT_TRUE(processUntil([&] { return wavs(config.dictationDir + "/pending").empty(); }, 5));
}

class DictationWithNoFieldInSight : public DictationEndToEnd {
protected:
    DictationWithNoFieldInSight() { accessible = false; }
};

// Unreadable files ahead of it cost the queue no tick; with no text field in sight its text is
// typed nowhere, and it leaves the queue only once a press has put it into the field.
TEST_F(DictationWithNoFieldInSight, AQueuedDictationStaysQueuedUntilAPressDeliversIt) {
    const std::string pending = config.dictationDir + "/pending";
    fs::create_directories(pending);
    std::ofstream(pending + "/2026-01-01 100000.wav"); // a full disk's
    std::ofstream(pending + "/2026-01-01 100001.wav") << "not a recording";
    writeRecording(pending + "/2026-01-01 100002.wav", phrase, phrase.size());
    start(model());
    ASSERT_TRUE(waitFor(Kind::nowhere)) << history();
    EXPECT_EQ(history().find("→ failed"), std::string::npos) << "one tick for all; " << history();
    EXPECT_EQ(target->typed(), "");
    EXPECT_EQ(clipboardText(), "до диктовки");
    EXPECT_EQ(wavs(pending), std::vector<fs::path>{pending + "/2026-01-01 100002.wav"});
    EXPECT_EQ(wavs(pending + "/unreadable").size(), 2u);

    altSpace();
    EXPECT_TRUE(processUntil([&] { return target->typed() == heard; }))
        << "the field holds «" << target->typed() << "»; " << history();
    EXPECT_TRUE(processUntil([&] { return wavs(pending).empty(); }, 5));
}

// The press is taken at once even while the sound server hangs, and the recording starts once
// it answers.
TEST_F(DictationEndToEnd, AToggleDictationLandsInTheFieldThroughTheLiveStream) {
    start(model());
    processUntil([] { return false; }, 0.5); // warmed up
    pulse.freeze(true);
    altSpace();
    const bool shown = waitFor(Kind::recording, 1.5);
    pulse.freeze(false);
    ASSERT_TRUE(shown) << "the press waited for the sound server; " << history();
    playIntoTestSink(tones);
    altSpace();
    expectTheTextDeliveredAndTidiedUp();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "вставка из стрима"), lines.end());
    EXPECT_EQ(controller->samplesStore()->count(), 1);
    if (bus) { // the focus as the accessibility bus reports it
        EXPECT_NE(controller->lastInsertNote()->find("фокус: AXTextField"), std::string::npos)
            << *controller->lastInsertNote();
    }
}

TEST_F(DictationEndToEnd, ASoundServerLostMidRecordingEndsItAndDeliversWhatWasCaptured) {
    start(model());
    altSpace();
    ASSERT_TRUE(waitFor(Kind::recording, 10));
    playIntoTestSink(tones);
    pulse.kill();
    EXPECT_TRUE(processUntil([&] { return target->typed() == heard; }))
        << "the field holds «" << target->typed() << "»; " << history();
    EXPECT_TRUE(controller->microphoneLost()) << history();
    Journal::shared().flush();
    EXPECT_NE(readFile(Journal::shared().path()).find(" диктовка: микрофон пропал — "),
              std::string::npos);
}

TEST_F(DictationEndToEnd, ARecordingLeftByACrashIsDeliveredAfterStart) {
    if (!bus)
        GTEST_SKIP() << "a retry types only where a text field is seen to have focus";
    // Cut short after its first second: the header declares that second only.
    const std::string left = config.dictationDir + "/2026-01-01 120000.wav";
    fs::create_directories(config.dictationDir);
    writeRecording(left, phrase, 16000);
    fs::last_write_time(left, fs::file_time_type::clock::now() - std::chrono::minutes(10));
    start(model());
    EXPECT_EQ(controller->state(), DictationState::queued(1));
    expectTheTextDeliveredAndTidiedUp();
}

} // namespace
} // namespace talvoro
