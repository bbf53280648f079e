#include "audio/capture_test_support.h"
#include "audio/core_audio_error.h"
#include "audio/dictation_recorder.h"
#include "audio/mic.h"
#include "audio/wav_format.h"
#include "audio/wav_reader.h"
#include "support/event_loop.h"
#include "support/pulse_server.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

// libpulse is not built for ThreadSanitizer: it publishes the mutexes it makes lazily with
// atomics the sanitizer cannot see, which shows as a race on the mutex itself.
extern "C" const char* __tsan_default_suppressions() {
    return "race:pa_mutex_lock\n";
}

namespace talvoro {
namespace {

using namespace std::chrono_literals;
using testing::PulseServer;
using testing::readFile;
using testing::recordedSamples;
using testing::runProgram;
using testing::TempDir;
using testing::toneFrequency;

#define REQUIRE_SERVER(server)                                                                     \
    if (!(server).running())                                                                       \
    GTEST_SKIP() << "no pulseaudio daemon could be started"

// Start and end of the part of the recording louder than the threshold.
std::pair<std::size_t, std::size_t> loudPart(const std::vector<float>& s, float threshold) {
    std::size_t first = s.size(), last = 0;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (std::abs(s[i]) > threshold) {
            first = std::min(first, i);
            last = i;
        }
    return {first, last + 1};
}

// Why the recorder's start did not come about, as it tells it back on this thread.
std::string failedStart(DictationRecorder& recorder, const std::string& path) {
    testing::application();
    std::optional<std::string> reason;
    recorder.onStartFailed = [&](const std::string& why) { reason = why; };
    recorder.start(path);
    EXPECT_TRUE(testing::processUntil([&] { return reason.has_value(); }, 10));
    recorder.onStartFailed = nullptr;
    return reason.value_or("");
}

bool headerIsExact(const std::string& path) {
    std::string bytes = readFile(path);
    if (bytes.size() < 44)
        return false;
    auto declared = WAVFormat::readU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 40);
    return declared == bytes.size() - 44;
}

TEST(PulseCapture, RecordsWhatIsPlayedIntoTheDefaultSink) {
    PulseServer server;
    REQUIRE_SERVER(server);
    TempDir dir;
    const std::string tone = dir / "tone.wav";
    ASSERT_EQ(
        runProgram("sox -n -r 44100 -c 1 -b 16 '" + tone + "' synth 1.5 sine 700 gain -6").status,
        0);
    EXPECT_EQ(Mic::authorizationStatus(), Mic::Authorization::authorized);

    DictationRecorder recorder;
    recorder.warmUp();
    const std::string path = dir / "rec.wav";
    recorder.start(path);
    std::this_thread::sleep_for(300ms);
    auto played = runProgram("paplay --device=" + PulseServer::sinkName() + " '" + tone + "' 2>&1");
    ASSERT_EQ(played.status, 0) << played.output;
    std::this_thread::sleep_for(300ms);
    const double elapsed = recorder.elapsed();
    EXPECT_GT(recorder.level(), 0.0f);
    ASSERT_EQ(recorder.stop(), path);

    EXPECT_TRUE(headerIsExact(path));
    WAVReader reader(path);
    EXPECT_EQ(reader.sampleRate, 16000);
    EXPECT_NEAR(reader.durationSeconds(), elapsed, 0.15);
    auto s = recordedSamples(path);
    auto [from, to] = loudPart(s, 0.1f);
    ASSERT_LT(from, to) << "nothing of the tone was recorded";
    EXPECT_NEAR((to - from) / 16000.0, 1.5, 0.1);
    EXPECT_NEAR(toneFrequency(s, from, to), 700, 3);
}

TEST(PulseCapture, TheServerDyingMidRecordingIsToldAndKeepsWhatWasReceived) {
    testing::application(); // the loss is told on the main thread, through its event loop
    PulseServer server;
    REQUIRE_SERVER(server);
    TempDir dir;
    const std::string path = dir / "rec.wav";
    DictationRecorder recorder;
    std::vector<std::string> lost;
    recorder.onLost = [&](const std::string& reason) { lost.push_back(reason); };
    recorder.warmUp();
    recorder.start(path);
    testing::processUntil([] { return false; }, 0.8);
    server.kill();
    ASSERT_TRUE(testing::processUntil([&] { return !lost.empty(); }, 10));
    EXPECT_EQ(lost, std::vector<std::string>{"связь со звуковым сервером оборвалась"});

    ASSERT_EQ(recorder.stop(), path); // returns, though nobody answers any more
    EXPECT_TRUE(headerIsExact(path));
    EXPECT_NEAR(WAVReader(path).durationSeconds(), 0.8, 0.3);

    // With the server gone the next start fails cleanly, leaving no file.
    const std::string next = dir / "next.wav";
    EXPECT_EQ(failedStart(recorder, next),
              "микрофон недоступен — звуковой сервер (PulseAudio/PipeWire) не отвечает");
    EXPECT_FALSE(std::filesystem::exists(next));
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(lost.size(), 1u);
}

TEST(PulseCapture, AServerWithoutASourceIsARestrictedMicrophone) {
    PulseServer server(PulseServer::Options{.withSink = false});
    REQUIRE_SERVER(server);
    EXPECT_EQ(Mic::authorizationStatus(), Mic::Authorization::restricted);
    TempDir dir;
    DictationRecorder recorder;
    EXPECT_EQ(failedStart(recorder, dir / "rec.wav"),
              "микрофон недоступен — у звукового сервера нет источника записи");
    EXPECT_FALSE(std::filesystem::exists(dir / "rec.wav"));
}

TEST(PulseCapture, NoSoundServerMeansNoMicrophone) {
    TempDir dir;
    ::setenv("PULSE_SERVER", ("unix:" + dir / "absent").c_str(), 1);
    EXPECT_EQ(Mic::authorizationStatus(), Mic::Authorization::denied);
    EXPECT_FALSE(Mic::requestPermission());
    DictationRecorder recorder;
    recorder.warmUp();
    const std::string path = dir / "rec.wav";
    EXPECT_EQ(failedStart(recorder, path),
              "микрофон недоступен — звуковой сервер (PulseAudio/PipeWire) не отвечает");
    EXPECT_FALSE(std::filesystem::exists(path));
    ::unsetenv("PULSE_SERVER");
}

} // namespace
} // namespace talvoro
