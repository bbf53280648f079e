#include "audio/capture_test_support.h"
#include "audio/core_audio_error.h"
#include "audio/dictation_recorder.h"
#include "audio/host_time.h"
#include "audio/scripted_capture.h"
#include "audio/wav_reader.h"
#include "support/event_loop.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <system_error>
#include <thread>

namespace talvoro {
namespace {

using testing::loudest;
using testing::recordedSamples;
using testing::TempDir;
using testing::toneFrequency;

const AudioFormat mono16{16000, 1, SampleType::int16};
const AudioFormat stereo48Float{48000, 2, SampleType::float32};

std::function<double(std::int64_t)> sine(double frequency, double rate, double amplitude = 0.5) {
    return [=](std::int64_t f) {
        return amplitude *
               std::sin(2 * std::numbers::pi * frequency * static_cast<double>(f) / rate);
    };
}

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() {
        auto scripted = std::make_unique<ScriptedCapture>(InputStatus{true, mono16});
        capture = scripted.get();
        recorder = std::make_unique<DictationRecorder>(std::move(scripted));
    }

    // Starts a recording and waits until its capture runs.
    void begin(const std::string& file) {
        const int before = capture->startCount();
        recorder->start(file);
        while (capture->startCount() == before)
            std::this_thread::yield();
    }

    // Plays `seconds` of audio in buffers of `chunk` frames, stamped from `at` seconds after
    // the test's clock origin, and waits until the recorder has had them all.
    void play(const AudioFormat& format, double seconds, double at,
              const std::function<double(std::int64_t)>& value = {}, std::int64_t chunk = 2048) {
        const auto total = static_cast<std::int64_t>(std::llround(seconds * format.sampleRate));
        for (std::int64_t done = 0; done < total; done += chunk) {
            std::int64_t frames = std::min(chunk, total - done);
            auto shifted = [&, done](std::int64_t f) { return value ? value(done + f) : 0.0; };
            capture->push(makeChunk(
                format, frames, origin + HostTime::ticks(at + done / format.sampleRate), shifted));
        }
        capture->waitUntilPlayed();
    }

    TempDir dir;
    std::string path = dir / "rec/a.wav";
    std::uint64_t origin = HostTime::now();
    ScriptedCapture* capture;
    std::unique_ptr<DictationRecorder> recorder;
};

TEST_F(RecorderTest, KeepsRecordingsOfAtLeastTheMinimumAndIgnoresRepeatedCalls) {
    EXPECT_EQ(recorder->stop(), std::nullopt);
    begin(path);
    play(mono16, 0.2, 0, sine(300, 16000));
    EXPECT_EQ(recorder->stop(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(recorder->writtenSamples(), 3200);

    begin(path);
    recorder->start(dir / "other.wav");
    EXPECT_EQ(capture->startCount(), 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "other.wav"));
    play(mono16, 0.3, 0, sine(300, 16000));
    EXPECT_EQ(recorder->stop(), path);
    EXPECT_EQ(recorder->stop(), std::nullopt);
    EXPECT_EQ(WAVReader(path).sampleCount, 4800);
    EXPECT_EQ(recorder->writtenSamples(), 4800);
    EXPECT_EQ(recorder->currentURL(), path);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->elapsed(), 0.0);
}

TEST_F(RecorderTest, ClockJumpsOfAQuarterSecondOrMoreBecomeSilenceAndSmallerOrBackwardOnesNot) {
    auto dc = [](std::int64_t) { return 0.5; };
    begin(path);
    play(mono16, 0.5, 0.0, dc);
    play(mono16, 0.5, 1.0, dc); // 0.5 s of lost time
    play(mono16, 0.5, 1.7, dc); // 0.2 s: below the threshold
    play(mono16, 0.5, 0.3, dc); // the clock went backwards
    ASSERT_EQ(recorder->stop(), path);

    auto s = recordedSamples(path);
    ASSERT_EQ(s.size(), 4 * 8000u + 8000u);
    for (std::size_t i = 0; i < s.size(); ++i) {
        bool inGap = i >= 8000 && i < 16000;
        ASSERT_FLOAT_EQ(s[i], inGap ? 0.0f : 0.5f) << "at " << i;
    }
}

// Every input format, and a change of it mid-recording, ends up as 16 kHz mono of the same
// length and pitch on one timeline.
TEST_F(RecorderTest, EveryFormatAndAChangeMidRecordingKeepTheFileFormatAndTimeline) {
    const AudioFormat formats[] = {stereo48Float, mono16, AudioFormat{44100, 2, SampleType::int16},
                                   AudioFormat{192000, 2, SampleType::int32},
                                   AudioFormat{48000, 8, SampleType::float32}};
    begin(path);
    for (std::size_t segment = 0; segment < std::size(formats); ++segment)
        play(formats[segment], 0.5, 0.5 * segment, sine(440, formats[segment].sampleRate));
    ASSERT_EQ(recorder->stop(), path);

    WAVReader reader(path);
    EXPECT_EQ(reader.sampleRate, 16000);
    EXPECT_EQ(reader.channels, 1);
    EXPECT_NEAR(reader.durationSeconds(), 2.5, 0.01);
    auto s = recordedSamples(path);
    for (std::size_t segment = 0; segment < std::size(formats); ++segment) {
        std::size_t from = segment * 8000 + 800, to = (segment + 1) * 8000 - 800;
        EXPECT_NEAR(toneFrequency(s, from, to), 440, 2.0) << "segment " << segment;
        EXPECT_NEAR(loudest(s, from, to), 0.5, 0.02) << "segment " << segment;
    }
}

// A start that fails leaves no file and no capture behind, is told back on the main thread,
// and the next start works.
TEST_F(RecorderTest, FailedStartsLeaveNothingBehind) {
    testing::application();
    std::vector<std::string> told;
    recorder->onStartFailed = [&](const std::string& reason) { told.push_back(reason); };
    dir.write("taken", "a file where a folder should be");
    EXPECT_THROW(recorder->start(dir / "taken/a.wav"), std::system_error);
    EXPECT_FALSE(recorder->isRecording());
    capture->failNextStart("поток не открылся");
    recorder->start(path);
    ASSERT_TRUE(testing::processUntil([&] { return told.size() == 1; }));
    EXPECT_EQ(told[0], "поток не открылся");
    EXPECT_EQ(capture->startCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(recorder->stop(), std::nullopt);

    begin(path);
    play(mono16, 0.5, 0, sine(300, 16000));
    ASSERT_EQ(recorder->stop(), path);
    EXPECT_EQ(WAVReader(path).sampleCount, 8000);
}

// The live stream follows the count on its thread, through stop() and past the recorder.
TEST_F(RecorderTest, AnotherThreadFollowsTheCountThroughStopAndAfterTheRecorderIsGone) {
    begin(path);
    const std::shared_ptr<const SampleCount> count = recorder->writtenCount();
    std::atomic<bool> done = false;
    std::thread follower([&] {
        std::int64_t last = 0;
        while (!done) {
            const std::int64_t now = count->value();
            EXPECT_GE(now, last);
            last = now;
            std::this_thread::yield();
        }
    });
    play(stereo48Float, 1.5, 0, sine(440, 48000));
    while (count->value() == 0) // the drain timer writes while recording
        std::this_thread::yield();
    EXPECT_GT(recorder->level(), 0.0f);
    ASSERT_EQ(recorder->stop(), path);
    recorder.reset();
    done = true;
    follower.join();
    EXPECT_EQ(count->value(), 24000);
}

} // namespace
} // namespace talvoro
