#include "recognition/local_dictation_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "audio/wav_writer.h"
#include "recognition/dictation_transcriber.h"
#include "support/temp_dir.h"

using namespace talvoro;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t second = 16000;

// Every second of the test audio holds one value, 1 for the first second, 2 for the next…;
// 0 is silence. The engine hears one word per run of equal non-zero values and works in
// windows of three seconds, as the real one does with its longer windows. A held call waits
// until its stop token ends it (or, should nothing ever stop it, a minute).
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
    int held = 0;                       // guarded by lock: calls waiting now
    int endedByStop = 0;                // guarded by lock

    static std::string words(std::span<const float> samples) {
        std::string text;
        int last = 0;
        for (const float sample : samples) {
            const int value = static_cast<int>(sample * 32768.0f + 0.5f);
            if (value != 0 && value != last)
                text += (text.empty() ? "" : " ") + std::string("слово") + std::to_string(value);
            last = value;
        }
        return text;
    }

    void waitHeld(std::unique_lock<std::mutex>& guard, std::stop_token stop) {
        ++held;
        changed.notify_all();
        changed.wait_for(guard, stop, 60s, [] { return false; });
        --held;
        if (stop.stop_requested()) {
            ++endedByStop;
            throw TranscriptionCancelled();
        }
    }

    std::string transcribe(std::span<const float> samples, std::stop_token stop) override {
        std::unique_lock guard(lock);
        ++transcribes;
        if (holdTranscribes)
            waitHeld(guard, stop);
        return "  " + words(samples) + "\n";
    }

    Look look(std::span<const float> samples, bool mayCut, std::stop_token stop) override {
        std::unique_lock guard(lock);
        lookSizes.push_back(samples.size());
        if (holdLooks)
            waitHeld(guard, stop);
        if (failing)
            throw std::runtime_error("модель сломана");
        Look answer{" " + words(samples) + " ", std::nullopt};
        if (wholeIsCut && mayCut)
            answer.cut = Cut{words(samples), static_cast<std::int64_t>(samples.size())};
        const std::size_t window = 3 * second;
        if (!wholeIsCut && mayCut && samples.size() > window) {
            const std::size_t whole = (samples.size() - 1) / window * window;
            answer.cut = Cut{words(samples.first(whole)), static_cast<std::int64_t>(whole)};
        }
        return answer;
    }

    void waitUntilHeld() {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return held > 0; });
    }
};

// Lines arrive on the stream's thread.
class Lines {
public:
    void add(const std::string& line) {
        std::lock_guard guard(lock);
        lines.push_back(line);
    }
    std::vector<std::string> all() {
        std::lock_guard guard(lock);
        return lines;
    }

private:
    std::mutex lock;
    std::vector<std::string> lines;
};

// The growing recording, and the count the stream reads from its own thread.
struct Recording {
    talvoro::testing::TempDir dir;
    std::string path = dir / "запись.wav";
    WAVWriter writer{path};
    std::atomic<std::int64_t> written{0};
    std::atomic<int> reads{0};

    void add(double seconds, int value) {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * second),
                                          static_cast<std::int16_t>(value));
        writer.write(samples);
        written += static_cast<std::int64_t>(samples.size());
    }
    // Waits until the stream has looked at the count this many more times.
    void waitForReads(int more) {
        const int until = reads + more;
        while (reads < until)
            std::this_thread::yield();
    }
};

std::shared_ptr<LocalDictationStream>
streamOver(Recording& recording, std::shared_ptr<WordsEngine> engine, Lines* lines = nullptr) {
    auto stream = std::make_shared<LocalDictationStream>(engine, recording.path, [&recording] {
        ++recording.reads;
        return recording.written.load();
    });
    stream->tickSeconds = 0.005;
    stream->windowSeconds = 2.0;
    if (lines)
        stream->log = [lines](const std::string& line) { lines->add(line); };
    return stream;
}

template <typename Condition> bool eventually(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

} // namespace

TEST(LiveDictationStream, NoPassBeforeTheFirstSecondOfAudio) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = streamOver(recording, engine);
    recording.add(0.9, 1);
    stream->start();
    recording.waitForReads(5);
    EXPECT_TRUE(stream->snapshot().isEmpty());
    {
        std::lock_guard guard(engine->lock);
        EXPECT_TRUE(engine->lookSizes.empty());
    }
    recording.add(0.2, 1);
    EXPECT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
    EXPECT_FALSE(stream->snapshot().interim.has_value());
    stream->cancel();
}

TEST(LiveDictationStream, CommitsFinishedWindowsAndNeverDecodesThemAgain) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    Lines lines;
    auto stream = streamOver(recording, engine, &lines);
    stream->start();
    std::string expected;
    for (int word = 1; word <= 10; ++word) {
        recording.add(1.0, word);
        expected += (word > 1 ? " " : "") + std::string("слово") + std::to_string(word);
        ASSERT_TRUE(eventually([&] { return stream->snapshot().text == expected; }))
            << stream->snapshot().text;
    }
    // Commits happen only past the 2 s window and in whole 3 s engine windows: 3 s, then 6 s…
    const auto logged = lines.all();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front(), "живой показ: отрезано 3 с речи");
    EXPECT_EQ(logged.back(), "живой показ: отрезано 9 с речи");
    {
        std::lock_guard guard(engine->lock);
        for (const std::size_t size : engine->lookSizes)
            EXPECT_LE(size, static_cast<std::size_t>(3 * second + second)) << "decoded again";
    }
    EXPECT_GT(stream->slowestPassSeconds(), 0.0);

    recording.writer.close();
    EXPECT_EQ(stream->finish(), expected);
    std::lock_guard guard(engine->lock);
    EXPECT_EQ(engine->transcribes, 1);
}

TEST(LiveDictationStream, FailedPassKeepsTheTextAndIsLogged) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    Lines lines;
    auto stream = streamOver(recording, engine, &lines);
    recording.add(1.0, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
    {
        std::lock_guard guard(engine->lock);
        engine->failing = true;
    }
    recording.add(1.0, 2);
    // The line is written after the failed look returns, so wait for the line itself.
    ASSERT_TRUE(eventually([&] { return !lines.all().empty(); }));
    stream->cancel();
    EXPECT_EQ(stream->snapshot().text, "слово1");
    EXPECT_EQ(lines.all().front(), "живой разбор пропущен: модель сломана");
}

TEST(LiveDictationStream, CutEqualToTheWholeTextIsCommittedButNotShownAgain) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    engine->wholeIsCut = true;
    Lines lines;
    auto stream = streamOver(recording, engine, &lines);
    stream->minSeconds = 2.5;
    recording.add(1.0, 1);
    recording.add(1.0, 2);
    recording.add(1.0, 3);
    stream->start();
    ASSERT_TRUE(eventually([&] { return !lines.all().empty(); }));
    stream->cancel();
    EXPECT_EQ(lines.all().front(), "живой показ: отрезано 3 с речи");
    EXPECT_TRUE(stream->snapshot().isEmpty());
}

TEST(LiveDictationStream, UnreadableFinalFileIsLoggedAndAnswersNothing) {
    talvoro::testing::TempDir dir;
    auto engine = std::make_shared<WordsEngine>();
    Lines lines;
    auto stream = std::make_shared<LocalDictationStream>(engine, dir / "нет.wav",
                                                         [] { return std::int64_t{64000}; });
    stream->log = [&](const std::string& line) { lines.add(line); };
    stream->start();
    EXPECT_EQ(stream->finish(), std::nullopt);
    ASSERT_EQ(lines.all().size(), 1u);
    EXPECT_EQ(lines.all()[0].rfind("локальный разбор не удался: ", 0), 0u);
}

// Release: the live pass in flight is stale, so finish() ends it and recognises at once.
TEST(LiveDictationStream, FinishEndsTheLivePassInFlight) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    engine->holdLooks = true;
    auto stream = streamOver(recording, engine);
    recording.add(1.5, 1);
    stream->start();
    engine->waitUntilHeld();
    recording.writer.close();
    EXPECT_EQ(stream->finish(), "слово1");
    std::lock_guard guard(engine->lock);
    EXPECT_EQ(engine->endedByStop, 1);
    EXPECT_EQ(engine->transcribes, 1);
}

// Quitting during the final recognition: cancel() on the main thread ends the pass that
// finish() runs on a worker, and the two never touch the loop thread at the same time.
TEST(LiveDictationStream, CancelEndsTheFinalPassOfAFinishOnAnotherThread) {
    for (int round = 0; round < 20; ++round) {
        Recording recording;
        auto engine = std::make_shared<WordsEngine>();
        engine->holdTranscribes = round % 2 == 0;
        auto stream = streamOver(recording, engine);
        recording.add(1.5, 1);
        stream->start();
        recording.waitForReads(round % 3);
        recording.writer.close();
        auto finished = std::async(std::launch::async, [stream] { return stream->finish(); });
        if (engine->holdTranscribes)
            engine->waitUntilHeld();
        stream->cancel();
        const auto text = finished.get();
        if (engine->holdTranscribes) {
            EXPECT_EQ(text, std::nullopt);
            std::lock_guard guard(engine->lock);
            EXPECT_EQ(engine->endedByStop, 1);
        }
    }
}

// Once cancel() returns, the owner may go (the recorder with it): no call reaches it again.
TEST(LiveDictationStream, AfterCancelNothingCallsTheOwnerAndTheStreamMayGoAtOnce) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    std::promise<void> inside;
    std::promise<void> cancelling;
    std::promise<void> returned;
    auto cancelled = cancelling.get_future().share();
    std::atomic<bool> gone = false;
    std::atomic<int> callsAfterGone = 0;
    std::atomic<bool> first = true;
    auto stream = std::make_shared<LocalDictationStream>(engine, recording.path, [&]() {
        if (first.exchange(false)) {
            inside.set_value();
            cancelled.wait();
            std::this_thread::sleep_for(20ms); // room for a cancel() that does not wait
            if (gone)
                ++callsAfterGone;
            returned.set_value();
            return std::int64_t{0};
        }
        if (gone)
            ++callsAfterGone;
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

TEST(LiveDictationStream, CallsOutOfOrderAreHarmless) {
    Recording recording;
    recording.add(1.5, 1);
    recording.writer.close();
    auto engine = std::make_shared<WordsEngine>();

    // Started twice: one loop, on one thread.
    std::mutex lock;
    std::set<std::thread::id> threads;
    auto twice = std::make_shared<LocalDictationStream>(engine, recording.path, [&] {
        std::lock_guard guard(lock);
        threads.insert(std::this_thread::get_id());
        ++recording.reads;
        return std::int64_t{0};
    });
    twice->tickSeconds = 0.001;
    twice->start();
    twice->start();
    recording.waitForReads(40);
    twice->cancel();
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(threads.size(), 1u);
    }

    // Cancelled before it started: it never starts, and finish() recognises nothing.
    const int reads = recording.reads;
    auto early = streamOver(recording, engine);
    early->cancel();
    early->start();
    EXPECT_EQ(early->finish(), std::nullopt);
    EXPECT_EQ(recording.reads, reads);
    std::lock_guard guard(engine->lock);
    EXPECT_EQ(engine->transcribes, 0);
    EXPECT_TRUE(engine->lookSizes.empty());
}

TEST(LiveDictationStream, DroppedStreamEndsItsLoop) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    recording.add(1.5, 1);
    std::weak_ptr<LocalDictationStream> weak;
    {
        auto stream = streamOver(recording, engine);
        weak = stream;
        stream->start();
        ASSERT_TRUE(eventually([&] { return !stream->snapshot().isEmpty(); }));
    }
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}
