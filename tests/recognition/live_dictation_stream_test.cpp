#include "recognition/local_dictation_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <set>
#include <thread>

#include "audio/wav_writer.h"
#include "recognition/dictation_transcriber.h"
#include "support/temp_dir.h"

using namespace talvoro;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t second = 16000;
constexpr std::int16_t loud = 1000;

// Hears a word per run of one value (1000, 2000, …; 0 is a pause). The first `holding` calls
// (-1: all) wait until their stop token ends them (or, should nothing stop them, a minute).
class WordsEngine : public LocalDictationStream::Engine {
public:
    std::mutex lock;
    std::condition_variable_any changed;
    std::vector<std::size_t> sizes; // guarded by lock
    bool failing = false;           // guarded by lock
    int holding = 0;                // guarded by lock
    int held = 0;                   // guarded by lock
    int endedByStop = 0;            // guarded by lock
    bool letGo = false;             // guarded by lock: ends the holds

    static std::string words(std::span<const float> samples) {
        std::string text;
        int last = 0;
        for (const float sample : samples) {
            const int value = static_cast<int>(sample * 32768.0f / loud + 0.5f);
            if (value != 0 && value != last)
                text += (text.empty() ? "слово" : " слово") + std::to_string(value);
            last = value;
        }
        return text;
    }
    template <typename Read> auto read(Read what) {
        std::lock_guard guard(lock);
        return what();
    }
    void waitUntilHeld() {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return held > 0; });
    }

    std::string transcribe(std::span<const float> samples, std::stop_token stop) override {
        std::unique_lock guard(lock);
        sizes.push_back(samples.size());
        if (holding != 0) {
            holding -= holding > 0;
            ++held;
            changed.notify_all();
            changed.wait_for(guard, stop, 60s, [&] { return letGo; });
            --held;
            if (stop.stop_requested()) {
                ++endedByStop;
                throw TranscriptionCancelled();
            }
        }
        if (failing)
            throw std::runtime_error("модель сломана");
        return "  " + words(samples) + "\n";
    }
};

// The growing recording, the count the stream reads from its thread, and its log. Every
// test ends its streams (finish, cancel or drop) before the recording goes.
struct Recording {
    talvoro::testing::TempDir dir;
    std::string path = dir / "запись.wav";
    WAVWriter writer{path};
    std::atomic<std::int64_t> written{0};
    std::atomic<int> reads{0};
    std::mutex lock;
    std::set<std::thread::id> readers; // guarded by lock
    std::vector<std::string> logged;   // guarded by lock

    // A word said for `seconds`, then `pause` seconds of silence, written at once.
    void add(double seconds, int word, double pause = 0) {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * second),
                                          static_cast<std::int16_t>(word * loud));
        samples.resize(samples.size() + static_cast<std::size_t>(pause * second), 0);
        writer.write(samples);
        written += static_cast<std::int64_t>(samples.size());
    }
    void waitForReads(int more) {
        for (const int until = reads + more; reads < until;)
            std::this_thread::yield();
    }
    std::vector<std::string> lines() {
        std::lock_guard guard(lock);
        return logged;
    }
    std::shared_ptr<LocalDictationStream> stream(std::shared_ptr<WordsEngine> engine) {
        auto made = std::make_shared<LocalDictationStream>(engine, path, [this] {
            std::lock_guard guard(lock);
            readers.insert(std::this_thread::get_id());
            ++reads;
            return written.load();
        });
        made->tickSeconds = 0.002;
        made->log = [this](const std::string& line) {
            std::lock_guard guard(lock);
            logged.push_back(line);
        };
        return made;
    }
};

template <typename Condition> bool eventually(Condition condition) {
    for (int i = 0; i < 2000 && !condition(); ++i)
        std::this_thread::sleep_for(5ms);
    return condition();
}

} // namespace

// Words of 1.5 s, each followed by half a second of pause: a piece is committed at the latest
// pause once it is 3 s long; no pass decodes committed audio again, nor the pause after a seam.
TEST(LiveDictationStream, CommitsAtPausesOnceAPieceIsLongEnoughAndFinishesWithoutAPass) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = recording.stream(engine);
    recording.add(0.9, 1);
    stream->start();
    recording.waitForReads(5);
    EXPECT_TRUE(engine->read([&] { return engine->sizes.empty(); })) << "a pass before 1 s";
    recording.add(0.6, 1, 0.5);
    std::string expected = "слово1";
    ASSERT_TRUE(eventually([&] { return stream->snapshot() == DictationSnapshot{expected, {}}; }));
    for (int word = 2; word <= 6; ++word) {
        recording.add(1.5, word, 0.5);
        expected += " слово" + std::to_string(word);
        ASSERT_TRUE(eventually([&] { return stream->snapshot().text == expected; }));
    }
    // The pauses' middles at 3.75, 7.75 and 11.75 s; the one at 9.75 s is not 3 s past 7.75 s.
    EXPECT_EQ(recording.lines(), (std::vector<std::string>{"живой показ: отрезано 3 с речи",
                                                           "живой показ: отрезано 7 с речи",
                                                           "живой показ: отрезано 11 с речи"}));
    for (const std::size_t size : engine->read([&] { return engine->sizes; }))
        EXPECT_TRUE(size <= 4.25 * second && size >= 0.3 * second) << size << ": again or a pause";
    recording.add(0, 0, 0.2); // the pause before the key is let go: the open tail is all pause
    recording.writer.close();
    const std::size_t passes = engine->read([&] { return engine->sizes.size(); });
    EXPECT_EQ(stream->finish(), expected);
    EXPECT_EQ(engine->read([&] { return engine->sizes.size(); }), passes)
        << "nothing was said after the last pass";
}

// Speech that stops less than a step after the last pass is heard at once, not a step later.
TEST(LiveDictationStream, SpeechThatStopsIsHeardWithoutWaitingForAStep) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = recording.stream(engine);
    stream->stepSeconds = 1.0;
    recording.add(1.0, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
    recording.add(0.2, 2, 0.3);
    EXPECT_TRUE(eventually([&] { return stream->snapshot().text == "слово1 слово2"; }));
    stream->cancel();
}

// A word said too briefly for a pass: only the audio after the committed point is recognised;
// only when that fails does the stream answer nothing (and the owner turns to the file).
TEST(LiveDictationStream, FinishRecognisesTheOpenTailOnlyAndAnswersNothingWhenThatFails) {
    for (const bool failing : {false, true}) {
        Recording recording;
        auto engine = std::make_shared<WordsEngine>();
        auto stream = recording.stream(engine);
        stream->start();
        recording.add(1.5, 1, 0.5);
        recording.add(1.5, 2, 0.5);
        ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1 слово2"; }));
        ASSERT_EQ(recording.lines().size(), 1u);
        recording.add(0.2, 3); // less than a step: no pass
        recording.writer.close();
        engine->read([&] { return engine->failing = failing; });
        const std::optional<std::string> text = stream->finish();
        EXPECT_EQ(engine->read([&] { return engine->sizes.back(); }), 4.2 * second - 187 * 320)
            << "from the pause's middle (frame 187) on";
        if (failing) {
            EXPECT_EQ(text, std::nullopt);
            EXPECT_EQ(recording.lines().back(), "локальный разбор не удался: модель сломана");
        } else {
            EXPECT_EQ(text, "слово1 слово2 слово3");
        }
    }
}

// Silence has no pause: it is committed where it must be, and finishes empty, not unanswered.
TEST(LiveDictationStream, SilenceIsCommittedWhereItMustAndFinishesEmpty) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = recording.stream(engine);
    stream->longestSeconds = 2.0;
    stream->start();
    const auto calls = [&] { return engine->read([&] { return engine->sizes.size(); }); };
    for (std::size_t i = 0, before = 0; i < 6; ++i, before = calls()) { // a second a pass
        recording.add(0, 0, 1.0);
        ASSERT_TRUE(eventually([&] { return calls() > before; }));
        recording.waitForReads(1); // the loop's next turn: the pass is over
    }
    recording.writer.close();
    EXPECT_EQ(stream->finish(), "");
    EXPECT_FALSE(recording.lines().empty());
    for (const std::size_t size : engine->read([&] { return engine->sizes; }))
        EXPECT_LE(size, static_cast<std::size_t>(3 * second));
}

TEST(LiveDictationStream, FailedPassKeepsTheTextAndAnUnreadableFileAnswersNothing) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = recording.stream(engine);
    recording.add(1.0, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
    engine->read([&] { return engine->failing = true; });
    recording.add(1.0, 2);
    ASSERT_TRUE(eventually([&] { return !recording.lines().empty(); }));
    EXPECT_EQ(stream->snapshot().text, "слово1");
    EXPECT_EQ(recording.lines().front(), "живой разбор пропущен: модель сломана");
    std::filesystem::remove(recording.path);
    EXPECT_EQ(stream->finish(), std::nullopt);
    EXPECT_EQ(recording.lines().back().rfind("локальный разбор не удался: ", 0), 0u);
}

// Release: a live pass in flight that missed speech is stale, so finish() ends it and
// recognises at once; one with only the pause before the release after it is waited for,
// unless the finished pass before it heard all the speech too: then that one's text is used.
// Once the missed speech has stopped, the stale pass is cut before the release.
TEST(LiveDictationStream, FinishWaitsOnlyForALivePassThatIsTheFirstToHearAllTheSpeech) {
    enum { spokeAfter, pausedAfter, heardAll, heardBefore };
    for (const int round : {spokeAfter, pausedAfter, heardAll, heardBefore}) {
        Recording recording;
        auto engine = std::make_shared<WordsEngine>();
        engine->holding = round == heardBefore ? 0 : 1;
        auto stream = recording.stream(engine);
        recording.add(1.5, 1);
        stream->start();
        if (round == heardBefore) {
            ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
            engine->read([&] { return engine->holding = 1; });
        } else {
            engine->waitUntilHeld();
        }
        const bool spoke = round == spokeAfter || round == pausedAfter;
        recording.add(spoke ? 0.5 : 0, 2, round == spokeAfter ? 0.1 : 0.4);
        if (round == heardBefore)
            engine->waitUntilHeld();
        if (round == pausedAfter) { // cut before the release
            ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1 слово2"; }));
        }
        recording.writer.close();
        auto finished = std::async(std::launch::async, [&] { return stream->finish(); });
        if (finished.wait_for(100ms) == std::future_status::timeout)
            engine->read([&] { return engine->letGo = true; });
        engine->changed.notify_all();
        EXPECT_EQ(finished.get(), spoke ? "слово1 слово2" : "слово1");
        EXPECT_EQ(engine->read([&] { return engine->endedByStop; }), round == heardAll ? 0 : 1);
        EXPECT_EQ(engine->read([&] { return engine->sizes.size(); }), round == heardAll ? 1u : 2u);
    }
}

// Quitting during the final recognition: cancel() on the main thread ends the pass that
// finish() runs on a worker, and the two never touch the loop thread at the same time.
TEST(LiveDictationStream, CancelEndsTheFinalPassOfAFinishOnAnotherThread) {
    for (int round = 0; round < 20; ++round) {
        Recording recording;
        auto engine = std::make_shared<WordsEngine>();
        const bool held = round % 2 == 0;
        auto stream = recording.stream(engine);
        recording.add(1.5, 1);
        stream->start();
        recording.waitForReads(round % 3);
        engine->read([&] { return engine->holding = held ? -1 : 0; });
        recording.add(0.2, 2); // unheard, so the end has a tail to recognise
        recording.writer.close();
        auto finished = std::async(std::launch::async, [stream] { return stream->finish(); });
        if (held)
            engine->waitUntilHeld();
        stream->cancel();
        const auto text = finished.get();
        if (held) {
            EXPECT_EQ(text, std::nullopt);
            // A live pass held when cancel() came first ends on the loop thread it let go.
            EXPECT_TRUE(
                eventually([&] { return engine->read([&] { return engine->endedByStop; }); }));
        }
    }
}

// Once cancel() returns the owner may go, the recorder with it: no call reaches it again.
TEST(LiveDictationStream, AfterCancelNothingCallsTheOwner) {
    Recording recording;
    std::promise<void> inside, cancelling, returned;
    std::atomic<bool> first = true, gone = false;
    std::atomic<int> callsAfterGone = 0;
    auto stream = std::make_shared<LocalDictationStream>(
        std::make_shared<WordsEngine>(), recording.path, [&] {
            if (first.exchange(false)) {
                inside.set_value();
                cancelling.get_future().wait();
                std::this_thread::sleep_for(20ms); // room for a cancel() that does not wait
                callsAfterGone += gone;
                returned.set_value();
            }
            callsAfterGone += gone;
            return std::int64_t{0};
        });
    stream->tickSeconds = 0.001;
    stream->start();
    inside.get_future().wait();
    cancelling.set_value();
    stream->cancel();
    gone = true;
    stream.reset();
    returned.get_future().wait();
    EXPECT_EQ(callsAfterGone, 0);
}

TEST(LiveDictationStream, StartedTwiceRunsOneLoopCancelledFirstNoneAndDroppedEndsIt) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto twice = recording.stream(engine);
    twice->start();
    twice->start();
    recording.waitForReads(40);
    twice->cancel();
    EXPECT_EQ(recording.readers.size(), 1u); // no loop reads after cancel()

    const int reads = recording.reads;
    auto early = recording.stream(engine);
    early->cancel();
    early->start();
    EXPECT_EQ(early->finish(), std::nullopt);
    EXPECT_EQ(recording.reads, reads);
    EXPECT_TRUE(engine->read([&] { return engine->sizes.empty(); }));

    recording.add(1.5, 1);
    auto dropped = recording.stream(engine);
    const std::weak_ptr<LocalDictationStream> weak = dropped;
    dropped->start();
    ASSERT_TRUE(eventually([&] { return !dropped->snapshot().isEmpty(); }));
    dropped.reset();
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}
