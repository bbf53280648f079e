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

// Each second of the test audio holds one value (1, 2, …; 0 is silence); the engine hears one
// word per run of equal values and works in windows of three seconds. A held call waits until
// its stop token ends it (or, should nothing stop it, a minute).
class WordsEngine : public LocalDictationStream::Engine {
public:
    std::mutex lock;
    std::condition_variable_any changed;
    std::vector<std::size_t> lookSizes; // guarded by lock
    int transcribes = 0;                // guarded by lock
    bool failing = false;               // guarded by lock
    bool wholeIsCut = false;            // guarded by lock: one window, yet a cut
    bool holdLooks = false;             // guarded by lock
    bool holdTranscribes = false;       // guarded by lock
    int held = 0;                       // guarded by lock
    int endedByStop = 0;                // guarded by lock

    static std::string words(std::span<const float> samples) {
        std::string text;
        int last = 0;
        for (const float sample : samples) {
            const int value = static_cast<int>(sample * 32768.0f + 0.5f);
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
    void hold(std::unique_lock<std::mutex>& guard, std::stop_token stop) {
        ++held;
        changed.notify_all();
        changed.wait_for(guard, stop, 60s, [] { return false; });
        --held;
        if (stop.stop_requested()) {
            ++endedByStop;
            throw TranscriptionCancelled();
        }
    }
    void waitUntilHeld() {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return held > 0; });
    }

    std::string transcribe(std::span<const float> samples, std::stop_token stop) override {
        std::unique_lock guard(lock);
        ++transcribes;
        if (holdTranscribes)
            hold(guard, stop);
        return "  " + words(samples) + "\n";
    }
    Look look(std::span<const float> samples, bool mayCut, std::stop_token stop) override {
        std::unique_lock guard(lock);
        lookSizes.push_back(samples.size());
        if (holdLooks)
            hold(guard, stop);
        if (failing)
            throw std::runtime_error("модель сломана");
        Look answer{" " + words(samples) + " ", std::nullopt};
        const std::size_t window = 3 * second;
        if (wholeIsCut && mayCut)
            answer.cut = Cut{words(samples), static_cast<std::int64_t>(samples.size())};
        else if (mayCut && samples.size() > window) {
            const std::size_t whole = (samples.size() - 1) / window * window;
            answer.cut = Cut{words(samples.first(whole)), static_cast<std::int64_t>(whole)};
        }
        return answer;
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

    void add(double seconds, int value) {
        writer.write(std::vector<std::int16_t>(static_cast<std::size_t>(seconds * second),
                                               static_cast<std::int16_t>(value)));
        written += static_cast<std::int64_t>(seconds * second);
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
        made->windowSeconds = 2.0;
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

TEST(LiveDictationStream, StartsAtOneSecondThenCommitsWindowsAndNeverDecodesThemAgain) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = recording.stream(engine);
    recording.add(0.9, 1);
    stream->start();
    recording.waitForReads(5);
    EXPECT_TRUE(engine->read([&] { return engine->lookSizes.empty(); }));
    recording.add(0.1, 1);
    std::string expected = "слово1";
    ASSERT_TRUE(eventually([&] { return stream->snapshot().text == expected; }));
    EXPECT_FALSE(stream->snapshot().interim.has_value());
    for (int word = 2; word <= 10; ++word) {
        recording.add(1.0, word);
        expected += " слово" + std::to_string(word);
        ASSERT_TRUE(eventually([&] { return stream->snapshot().text == expected; }));
    }
    // Commits happen only past the 2 s window and in whole 3 s engine windows: 3 s, then 6 s…
    const auto logged = recording.lines();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front(), "живой показ: отрезано 3 с речи");
    EXPECT_EQ(logged.back(), "живой показ: отрезано 9 с речи");
    for (const std::size_t size : engine->read([&] { return engine->lookSizes; }))
        EXPECT_LE(size, static_cast<std::size_t>(4 * second)) << "decoded again";
    EXPECT_GT(stream->slowestPassSeconds(), 0.0);
    recording.writer.close();
    EXPECT_EQ(stream->finish(), expected);
}

TEST(LiveDictationStream, FailedPassKeepsTheTextAndACutEqualToTheTextIsNotShownAgain) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = recording.stream(engine);
    recording.add(1.0, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
    engine->read([&] { return engine->failing = true; });
    recording.add(1.0, 2);
    ASSERT_TRUE(eventually([&] { return !recording.lines().empty(); }));
    stream->cancel();
    EXPECT_EQ(stream->snapshot().text, "слово1");
    EXPECT_EQ(recording.lines().front(), "живой разбор пропущен: модель сломана");

    Recording whole;
    engine = std::make_shared<WordsEngine>();
    engine->wholeIsCut = true;
    stream = whole.stream(engine);
    whole.add(3.0, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return !whole.lines().empty(); }));
    stream->cancel();
    EXPECT_EQ(whole.lines().front(), "живой показ: отрезано 3 с речи");
    EXPECT_TRUE(stream->snapshot().isEmpty());
}

TEST(LiveDictationStream, UnreadableFinalFileIsLoggedAndAnswersNothing) {
    Recording recording;
    auto stream = recording.stream(std::make_shared<WordsEngine>());
    std::filesystem::remove(recording.path);
    EXPECT_EQ(stream->finish(), std::nullopt);
    ASSERT_EQ(recording.lines().size(), 1u);
    EXPECT_EQ(recording.lines()[0].rfind("локальный разбор не удался: ", 0), 0u);
}

// Release: the live pass in flight is stale, so finish() ends it and recognises at once.
TEST(LiveDictationStream, FinishEndsTheLivePassInFlight) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    engine->holdLooks = true;
    auto stream = recording.stream(engine);
    recording.add(1.5, 1);
    stream->start();
    engine->waitUntilHeld();
    recording.writer.close();
    EXPECT_EQ(stream->finish(), "слово1");
    EXPECT_EQ(engine->read([&] { return engine->endedByStop; }), 1);
}

// Quitting during the final recognition: cancel() on the main thread ends the pass that
// finish() runs on a worker, and the two never touch the loop thread at the same time.
TEST(LiveDictationStream, CancelEndsTheFinalPassOfAFinishOnAnotherThread) {
    for (int round = 0; round < 20; ++round) {
        Recording recording;
        auto engine = std::make_shared<WordsEngine>();
        const bool held = engine->holdTranscribes = round % 2 == 0;
        auto stream = recording.stream(engine);
        recording.add(1.5, 1);
        stream->start();
        recording.waitForReads(round % 3);
        recording.writer.close();
        auto finished = std::async(std::launch::async, [stream] { return stream->finish(); });
        if (held)
            engine->waitUntilHeld();
        stream->cancel();
        const auto text = finished.get();
        if (held) {
            EXPECT_EQ(text, std::nullopt);
            EXPECT_EQ(engine->read([&] { return engine->endedByStop; }), 1);
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

TEST(LiveDictationStream, StartedTwiceRunsOneLoopAndCancelledFirstNone) {
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
    recording.writer.close();
    EXPECT_EQ(early->finish(), std::nullopt);
    EXPECT_EQ(recording.reads, reads);
    EXPECT_EQ(engine->read([&] { return engine->transcribes; }), 0);
}

TEST(LiveDictationStream, DroppedStreamEndsItsLoop) {
    Recording recording;
    recording.add(1.5, 1);
    std::weak_ptr<LocalDictationStream> weak;
    {
        auto stream = recording.stream(std::make_shared<WordsEngine>());
        weak = stream;
        stream->start();
        ASSERT_TRUE(eventually([&] { return !stream->snapshot().isEmpty(); }));
    }
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}
