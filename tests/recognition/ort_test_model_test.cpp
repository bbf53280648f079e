#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "recognition/ort.h"
#include "recognition/ort_binding.h"
#include "recognition/ort_session.h"

// Runs the generated test model the way the recogniser does (features, encoder, then a greedy
// loop over bindings of the decoder and joint) to hold the model to what its generator
// promises: which tone gives which token.

using namespace talvoro;

namespace {

const std::string folder = TALVORO_BINARY_DIR "/test-models/gigaam/";
constexpr std::int64_t blank = 1024;
constexpr std::int64_t separator = 1000;

struct Audio {
    std::vector<float> samples;
    Audio& tone(double frequency, double seconds, double level = 0.5) {
        auto n = static_cast<std::size_t>(seconds * 16000);
        for (std::size_t i = 0; i < n; ++i)
            samples.push_back(static_cast<float>(
                level * std::sin(2 * std::numbers::pi * frequency * i / 16000.0 + 0.4)));
        return *this;
    }
    Audio& silence(double seconds) {
        samples.resize(samples.size() + static_cast<std::size_t>(seconds * 16000), 0.0f);
        return *this;
    }
};

class TestModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        using Where = ORT::Session::Where;
        preprocessor =
            new ORT::Session(folder + "gigaam-v3-preprocessor.onnx", 2, Where::processor);
        encoder = new ORT::Session(folder + "gigaam-v3-encoder.onnx", 2, Where::processor);
        decoder = new ORT::Session(folder + "gigaam-v3-decoder.onnx", 1, Where::processor);
        joint = new ORT::Session(folder + "gigaam-v3-joint.onnx", 1, Where::processor);
    }
    static void TearDownTestSuite() {
        delete preprocessor;
        delete encoder;
        delete decoder;
        delete joint;
    }

    // Visible token ids (the separator left out), at most 10 per frame.
    static std::vector<std::int64_t> hear(const Audio& audio) {
        auto n = static_cast<std::int64_t>(audio.samples.size());
        std::map<std::string, ORT::Tensor> waveform;
        waveform.emplace("waveforms", ORT::Tensor(audio.samples, {1, n}));
        waveform.emplace("waveforms_lens", ORT::Tensor(std::vector<std::int64_t>{n}, {1}));
        auto features = preprocessor->run(std::move(waveform), {"features", "features_lens"});
        ORT::releaseInputs();
        std::map<std::string, ORT::Tensor> encoderInputs;
        encoderInputs.emplace("audio_signal", features.at("features"));
        encoderInputs.emplace("length", features.at("features_lens"));
        auto encoded = encoder->run(std::move(encoderInputs), {"encoded", "encoded_len"});
        ORT::releaseInputs();
        const ORT::Tensor& frames = encoded.at("encoded");
        std::int64_t d = frames.shape.at(1), t = encoded.at("encoded_len").ints().at(0);
        EXPECT_EQ(t, frames.shape.at(2));
        std::vector<float> values = frames.floats();

        std::vector<float> frame(d), dec(320), h(320, 0.0f), c(320, 0.0f);
        std::int64_t token = blank;
        ORT::Binding step(*decoder, {"x", "h.1", "c.1"}, {"dec", "h", "c"});
        step.lend(0, &token, {1, 1});
        step.lend(1, h.data(), {1, 1, 320});
        step.lend(2, c.data(), {1, 1, 320});
        ORT::Binding score(*joint, {"enc", "dec"}, {"joint"});
        score.lend(0, frame.data(), {1, d, 1});
        score.lend(1, dec.data(), {1, 320, 1});
        auto advance = [&] {
            step.run(true);
            std::copy_n(step.floats(0).data(), 320, dec.data());
            std::copy_n(step.floats(1).data(), 320, h.data());
            std::copy_n(step.floats(2).data(), 320, c.data());
        };
        advance();
        std::vector<std::int64_t> tokens;
        for (std::int64_t i = 0; i < t; ++i) {
            for (std::int64_t j = 0; j < d; ++j)
                frame[j] = values[j * t + i];
            for (int emitted = 0; emitted < 10; ++emitted) {
                score.run(true);
                auto scores = score.floats(0);
                std::int64_t best = 0;
                for (std::size_t k = 1; k < scores.size(); ++k)
                    if (scores[k] > scores[best])
                        best = static_cast<std::int64_t>(k);
                if (best == blank)
                    break;
                if (best != separator)
                    tokens.push_back(best);
                token = best;
                advance();
            }
        }
        return tokens;
    }

    static ORT::Session* preprocessor;
    static ORT::Session* encoder;
    static ORT::Session* decoder;
    static ORT::Session* joint;
};

ORT::Session* TestModel::preprocessor = nullptr;
ORT::Session* TestModel::encoder = nullptr;
ORT::Session* TestModel::decoder = nullptr;
ORT::Session* TestModel::joint = nullptr;

using Tokens = std::vector<std::int64_t>;

TEST_F(TestModel, HeldTonesEmitOnceAndSilenceSeparatesRepeats) {
    EXPECT_EQ(hear(Audio().silence(0.3).tone(300, 0.3).silence(0.3).tone(450, 0.3).silence(0.3)),
              (Tokens{17, 42}));
    EXPECT_EQ(hear(Audio().tone(300, 2.0).silence(0.5)), (Tokens{17}));
    EXPECT_EQ(
        hear(Audio().tone(1250, 0.3).silence(0.3).tone(1000, 0.3).silence(0.2).tone(1250, 0.2)),
        (Tokens{300, 230, 300}));
    EXPECT_EQ(hear(Audio().tone(2200, 0.3).tone(2600, 0.3).tone(1800, 0.3, 0.1)),
              (Tokens{400, 401, 5}));
    EXPECT_EQ(hear(Audio().silence(1.0)), Tokens{});
    EXPECT_EQ(hear(Audio().silence(0.013).tone(600, 0.21).silence(0.27).tone(4400, 0.2, 0.9)),
              (Tokens{101, 777}));
}

TEST_F(TestModel, StuckToneHitsTheCapAndTiesGoToTheLowerId) {
    Tokens tokens = hear(Audio().tone(1250, 0.6).silence(0.6).tone(3100, 0.04).silence(0.4));
    EXPECT_EQ(tokens, (Tokens{300, 512, 512, 512, 512, 512, 512, 512, 512, 512, 512}));
    EXPECT_EQ(hear(Audio().tone(3100, 0.12).silence(0.2)), Tokens(30, 512));
    EXPECT_EQ(hear(Audio().silence(0.3).tone(3700, 0.5).silence(0.3)), (Tokens{600}));

    // The tie is exact, not a near miss that happens to favour the lower id.
    std::vector<float> frame(768, 0.0f), dec(320, 0.0f);
    frame[11] = 1.0f; // the 3700 Hz channel
    dec[15] = 0.76f;  // blank came last
    ORT::Binding score(*joint, {"enc", "dec"}, {"joint"});
    score.lend(0, frame.data(), {1, 768, 1});
    score.lend(1, dec.data(), {1, 320, 1});
    score.run();
    auto scores = score.floats(0);
    EXPECT_EQ(scores[600], scores[601]);
    EXPECT_EQ(*std::max_element(scores.begin(), scores.end()), scores[600]);
}

} // namespace
