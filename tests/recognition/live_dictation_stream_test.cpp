#include "recognition/local_dictation_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "audio/wav_writer.h"
#include "support/temp_dir.h"

using namespace talvoro;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t second = 16000;

// Every second of the test audio holds one value, 1 for the first second, 2 for the next…;
// 0 is silence. The engine hears one word per run of equal non-zero values and works in
// windows of three seconds, as the real one does with its longer windows.
class WordsEngine : public LocalDictationStream::Engine {
public:
    std::mutex lock;
    std::vector<std::size_t> lookSizes; // guarded by lock
    int transcribes = 0;                // guarded by lock
    bool failing = false;               // guarded by lock
    bool wholeIsCut = false;            // guarded by lock: one window, yet a cut

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

    std::string transcribe(std::span<const float> samples) override {
        std::lock_guard guard(lock);
        ++transcribes;
        return "  " + words(samples) + "\n";
    }

    Look look(std::span<const float> samples, bool mayCut) override {
        std::lock_guard guard(lock);
        lookSizes.push_back(samples.size());
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

struct Recording {
    talvoro::testing::TempDir dir;
    std::string path = dir / "запись.wav";
    WAVWriter writer{path};
    std::atomic<std::int64_t> written{0};

    void add(double seconds, int value) {
        std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * second),
                                          static_cast<std::int16_t>(value));
        writer.write(samples);
        written += static_cast<std::int64_t>(samples.size());
    }
};

std::shared_ptr<LocalDictationStream>
streamOver(Recording& recording, std::shared_ptr<WordsEngine> engine, Lines* lines = nullptr) {
    auto stream = std::make_shared<LocalDictationStream>(engine, recording.path,
                                                         [&] { return recording.written.load(); });
    stream->tickSeconds = 0.005;
    stream->windowSeconds = 2.0;
    if (lines)
        stream->log = [lines](const std::string& line) { lines->add(line); };
    return stream;
}

template <typename Condition> bool eventually(Condition condition) {
    for (int i = 0; i < 1000; ++i) {
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
    std::this_thread::sleep_for(100ms);
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

TEST(LiveDictationStream, FinishAfterCancelAnswersNothingWithoutRecognising) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    auto stream = streamOver(recording, engine);
    recording.add(1.5, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return !stream->snapshot().isEmpty(); }));
    stream->cancel();
    recording.writer.close();
    EXPECT_EQ(stream->finish(), std::nullopt);
    std::lock_guard guard(engine->lock);
    EXPECT_EQ(engine->transcribes, 0);
}

TEST(LiveDictationStream, FailedPassKeepsTheTextAndIsLogged) {
    Recording recording;
    auto engine = std::make_shared<WordsEngine>();
    Lines lines;
    auto stream = streamOver(recording, engine, &lines);
    recording.add(1.0, 1);
    stream->start();
    ASSERT_TRUE(eventually([&] { return stream->snapshot().text == "слово1"; }));
    std::size_t looksBefore;
    {
        std::lock_guard guard(engine->lock);
        engine->failing = true;
        looksBefore = engine->lookSizes.size();
    }
    recording.add(1.0, 2);
    // The line is written after the failed look returns, so wait for the line itself.
    ASSERT_TRUE(eventually([&] { return !lines.all().empty(); }));
    {
        std::lock_guard guard(engine->lock);
        EXPECT_GT(engine->lookSizes.size(), looksBefore);
    }
    stream->cancel();
    EXPECT_EQ(stream->snapshot().text, "слово1");
    ASSERT_FALSE(lines.all().empty());
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
    stream->tickSeconds = 0.005;
    stream->log = [&](const std::string& line) { lines.add(line); };
    stream->start();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(stream->finish(), std::nullopt);
    ASSERT_EQ(lines.all().size(), 1u);
    EXPECT_EQ(lines.all()[0].rfind("локальный разбор не удался: ", 0), 0u);
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
