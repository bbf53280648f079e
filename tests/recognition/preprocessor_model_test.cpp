#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "recognition/ort.h"
#include "recognition/ort_session.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::readFile;
using talvoro::testing::runProgram;
using talvoro::testing::TempDir;

namespace {

template <typename Element> std::vector<Element> readArray(const std::string& path) {
    std::string bytes = readFile(path);
    std::vector<Element> values(bytes.size() / sizeof(Element));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(Element));
    return values;
}

TEST(PreprocessorModel, MatchesTheReferenceFeatures) {
    TempDir folder;
    auto made = runProgram("/usr/bin/python3 " TALVORO_SOURCE_DIR
                           "/tests/recognition/preprocessor_reference.py " +
                           folder.path() + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    ORT::Session session(TALVORO_BINARY_DIR "/share/talvoro/models/gigaam-v3-preprocessor.onnx", 2,
                         ORT::Session::Where::processor);
    EXPECT_EQ(session.inputNames(), (std::vector<std::string>{"waveforms", "waveforms_lens"}));
    EXPECT_EQ(session.outputNames(), (std::vector<std::string>{"features", "features_lens"}));

    for (std::string name :
         {"noise", "quiet_noise", "tones", "chirp", "silence", "one_frame", "speech"}) {
        SCOPED_TRACE(name);
        std::vector<float> samples = readArray<float>(folder / (name + ".f32"));
        std::vector<double> expected = readArray<double>(folder / (name + ".features"));
        auto n = static_cast<std::int64_t>(samples.size());
        std::int64_t frames = (n - 320) / 160 + 1;
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(64 * frames));

        std::map<std::string, ORT::Tensor> inputs;
        inputs.emplace("waveforms", ORT::Tensor(std::move(samples), {1, n}));
        inputs.emplace("waveforms_lens", ORT::Tensor(std::vector<std::int64_t>{n}, {1}));
        auto results = session.run(std::move(inputs), {"features", "features_lens"});
        ORT::releaseInputs();
        const ORT::Tensor& features = results.at("features");
        EXPECT_EQ(features.shape, (std::vector<std::int64_t>{1, 64, frames}));
        EXPECT_EQ(results.at("features_lens").ints(), (std::vector<std::int64_t>{frames}));

        std::vector<float> values = features.floats();
        ASSERT_EQ(values.size(), expected.size());
        double worst = 0;
        for (std::size_t i = 0; i < values.size(); ++i)
            worst = std::max(worst, std::abs(values[i] - expected[i]));
        std::printf("%-12s %6lld frames, largest log-feature difference %.2e\n", name.c_str(),
                    static_cast<long long>(frames), worst);
        EXPECT_LT(worst, 1e-4);
    }
}

} // namespace
