// End to end with the generated test model, whose hearing is known by construction (see
// tools/models/make_test_model.py): each tone is a token, a held tone emits once, 3100 Hz is
// stuck (ten tokens per frame), 3700 Hz ties two tokens. Tones start and end on multiples of
// 640 samples (one encoder frame), so no frame is half tone and half silence.
#include "recognition/gigaam_transcriber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>

#include "recognition/gigaam_model.h"
#include "recognition/local_recognition_error.h"
#include "recognition/speech_cuts.h"

using namespace talvoro;

namespace {

const std::string modelFolder = TALVORO_BINARY_DIR "/test-models/gigaam";
const std::string brokenFolder = TALVORO_BINARY_DIR "/test-models/gigaam-broken";
constexpr std::size_t frame = 640;

struct Audio {
    std::vector<float> samples;
    Audio& tone(double frequency, std::size_t frames, double level = 0.5) {
        for (std::size_t i = 0; i < frames * frame; ++i)
            samples.push_back(static_cast<float>(level * std::sin(2 * std::numbers::pi * frequency *
                                                                  static_cast<double>(i) / 16000)));
        return *this;
    }
    Audio& silence(std::size_t frames) {
        samples.resize(samples.size() + frames * frame, 0.0f);
        return *this;
    }
    // Tones of eight frames, each followed by eight frames of silence.
    Audio& words(std::initializer_list<double> frequencies) {
        for (const double frequency : frequencies)
            tone(frequency, 8).silence(8);
        return *this;
    }
};

std::string repeated(const std::string& word, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += (i ? " " : "") + word;
    return text;
}

class GigaAMModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { transcriber = new GigaAMTranscriber(modelFolder); }
    static void TearDownTestSuite() { delete transcriber; }
    static GigaAMTranscriber* transcriber;
};
GigaAMTranscriber* GigaAMModelTest::transcriber = nullptr;

} // namespace

TEST_F(GigaAMModelTest, AudioBecomesTheExpectedRussianTextWithoutTheHesitation) {
    ASSERT_TRUE(GigaAMTranscriber::isUsable(modelFolder));
    Audio audio;
    audio.silence(8).words({300, 450, 600, 800}).tone(1800, 8).silence(8);
    audio.words({1250, 1000, 1250}).tone(2200, 8).tone(2600, 8).silence(8);
    audio.words({1500, 3700, 4400});
    EXPECT_EQ(transcriber->transcribe(audio.samples),
              "привет мир как дела. да да слово нет раз готово");
}

TEST_F(GigaAMModelTest, StuckFrameStopsAtTenSymbols) {
    Audio audio;
    audio.silence(8).words({1250}).silence(14).tone(3100, 1).silence(8);
    EXPECT_EQ(transcriber->transcribe(audio.samples), "да " + repeated("ха", 10));
    Audio three;
    three.silence(8).tone(3100, 3).silence(8);
    EXPECT_EQ(transcriber->transcribe(three.samples), repeated("ха", 30));
}

TEST_F(GigaAMModelTest, SilenceAndTooShortWindowsGiveNoText) {
    EXPECT_EQ(transcriber->transcribe(Audio().silence(50).samples), "");
    // 5312 samples of a clear tone: below a third of a second, never decoded.
    const auto shortTone = Audio().tone(300, 8).samples;
    ASSERT_LT(shortTone.size(), 5333u);
    EXPECT_EQ(transcriber->transcribe(shortTone), "");
    const auto look = transcriber->look({}, true);
    EXPECT_EQ(look.text, "");
    EXPECT_FALSE(look.cut.has_value());
}

// 24 s: words up to 16.64 s, a pause to 18.56 s, then a tone held across the 20 s mark.
// A fixed cut at 20 s would hear that tone twice; the seam moves into the pause instead.
TEST_F(GigaAMModelTest, LongAudioIsCutAtThePauseAndEveryWordHeardOnce) {
    Audio audio;
    audio.silence(16);
    for (int pair = 0; pair < 12; ++pair)
        audio.words({300, 450});
    audio.tone(600, 8).silence(56);
    ASSERT_EQ(audio.samples.size(), 296960u);
    audio.tone(800, 24).tone(1250, 24).silence(8);
    for (int word = 0; word < 5; ++word)
        audio.words({1500});
    ASSERT_EQ(audio.samples.size(), 384000u);

    const auto ranges = SpeechCuts::split(audio.samples, 320000);
    ASSERT_EQ(ranges.size(), 2u);
    const std::int64_t seam = ranges[0].end;
    ASSERT_EQ(seam % static_cast<std::int64_t>(frame), 0) << seam;
    ASSERT_GT(seam, 261120);
    ASSERT_LT(seam, 296960);

    const std::string first = repeated("привет мир", 12) + " как";
    const std::string second = "дела да " + repeated("нет", 5);

    EXPECT_EQ(transcriber->transcribe(audio.samples), first + " " + second);
}

// A recognition that comes while the background load runs waits for that load: the sessions
// open once, and a load asked for after the stop never begins.
TEST(GigaAMPreparation, ARecognitionDuringTheLoadWaitsForItAndTheModelOpensOnce) {
    GigaAMTranscriber fresh(modelFolder);
    std::stop_source stopped;
    stopped.request_stop();
    fresh.prepare(stopped.get_token());
    EXPECT_EQ(fresh.loads(), 0);

    std::thread loader([&] { fresh.prepare(); });
    const std::string text = fresh.transcribe(Audio().silence(8).words({300, 450}).samples);
    loader.join();
    EXPECT_EQ(text, "привет мир");
    fresh.prepare();
    EXPECT_EQ(fresh.loads(), 1);
}

namespace {

// The test model with a broken encoder or joint put in.
GigaAMModel::Paths withBroken(const std::string& encoder, const std::string& joint) {
    const auto pick = [](const std::string& broken, const std::string& part) {
        return broken.empty() ? modelFolder + "/gigaam-v3-" + part + ".onnx"
                              : brokenFolder + "/" + broken;
    };
    return GigaAMModel::Paths{modelFolder + "/gigaam-v3-preprocessor.onnx",
                              pick(encoder, "encoder"), pick("", "decoder"), pick(joint, "joint"),
                              modelFolder + "/gigaam-v3-vocab.txt"};
}

} // namespace

TEST(GigaAMModelOutputs, JointWithoutScoresSkipsFramesAndIntegerScoresCount) {
    const auto samples = Audio().silence(8).tone(300, 16).silence(8).samples;
    GigaAMModel empty(withBroken("", "joint-empty.onnx"), ORT::Session::Where::processor, 2);
    EXPECT_EQ(empty.decode(samples, 10), "");
    GigaAMModel ints(withBroken("", "joint-ints.onnx"), ORT::Session::Where::processor, 2);
    EXPECT_EQ(ints.decode(samples, 10), "привет");
}

TEST(GigaAMModelOutputs, EncoderOutputThatDoesNotFitIsRefusedNamingTheFile) {
    const auto samples = Audio().tone(300, 16).samples;
    for (const auto& [encoder, detail] :
         {std::pair{"encoder-flat.onnx", "отдал тензор без нужных измерений"},
          std::pair{"encoder-long.onnx", "длина 1063 больше числа его кадров (63)"}}) {
        GigaAMModel model(withBroken(encoder, ""), ORT::Session::Where::processor, 2);
        try {
            model.decode(samples, 10);
            ADD_FAILURE() << encoder;
        } catch (const LocalRecognitionError& error) {
            EXPECT_EQ(error.kind(), LocalRecognitionError::Kind::brokenModel);
            EXPECT_EQ(error.file(), brokenFolder + "/" + encoder);
            EXPECT_EQ(error.detail(), detail);
        }
    }
}

// The stop reaches the runtime's runs themselves (the window loop above them is not asked),
// and the next decode runs again.
TEST(GigaAMModelOutputs, AStopEndsTheRunsAndTheNextDecodeWorks) {
    const auto samples = Audio().silence(8).tone(300, 16).silence(8).samples;
    GigaAMModel model(withBroken("", ""), ORT::Session::Where::processor, 2);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(model.decode(samples, 10, nullptr, stop.get_token()), TranscriptionCancelled);
    EXPECT_EQ(model.decode(samples, 10), "привет");
}

// The published export (int32 "encoded_len", "dec" [1, 1, 320], "h.1"/"c.1" → "h"/"c") and
// GigaAM's current one ("hi"/"ci" → "ho"/"co", a vocabulary with a BOM and CRLF) hear alike.
TEST(GigaAMModelOutputs, BothExportGenerationsRecognise) {
    const auto samples = Audio().silence(8).words({300, 450}).samples;
    for (const std::string& folder : {modelFolder, modelFolder + "-newer"}) {
        ORT::Session decoder(folder + "/gigaam-v3-decoder.onnx", 1, ORT::Session::Where::processor);
        const bool newer = folder != modelFolder;
        EXPECT_EQ(decoder.inputNames()[1], newer ? "hi" : "h.1");
        EXPECT_EQ(decoder.outputNames()[2], newer ? "co" : "c");
        GigaAMTranscriber transcriber(folder);
        EXPECT_EQ(transcriber.transcribe(samples), "привет мир") << folder;
    }
}
