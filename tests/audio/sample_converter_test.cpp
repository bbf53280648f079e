#include "audio/sample_converter.h"
#include "audio/scripted_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace talvoro {
namespace {

std::vector<std::int16_t> convertInPieces(const ScriptedCapture::Chunk& whole,
                                          const std::vector<std::int64_t>& pieces) {
    SampleConverter converter(whole.format);
    std::vector<std::int16_t> all, out;
    const auto* bytes = whole.bytes.data();
    for (std::int64_t frames : pieces) {
        AudioBuffer buffer{whole.format, bytes, frames};
        EXPECT_TRUE(converter.convert(buffer, out));
        all.insert(all.end(), out.begin(), out.end());
        bytes += frames * whole.format.bytesPerFrame();
    }
    EXPECT_TRUE(converter.finish(out));
    all.insert(all.end(), out.begin(), out.end());
    return all;
}

// The resampler keeps its state between buffers: how the stream is cut makes no difference.
TEST(SampleConverter, CuttingTheStreamIntoBuffersChangesNoSample) {
    const AudioFormat format{44100, 2, SampleType::float32};
    auto chunk = makeChunk(format, 44100, 0, [](std::int64_t f) {
        return 0.6 * std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(f) / 44100);
    });
    auto whole = convertInPieces(chunk, {44100});
    auto pieces =
        convertInPieces(chunk, {2048, 1, 0, 7000, 333, 2048, 44100 - 2048 - 1 - 7000 - 333 - 2048});
    EXPECT_NEAR(static_cast<double>(whole.size()), 16000, 2);
    EXPECT_EQ(whole, pieces);
}

TEST(SampleConverter, MixesChannelsByAveragingAndClipsFloats) {
    const AudioFormat stereo{16000, 2, SampleType::float32};
    ScriptedCapture::Chunk chunk{stereo, {}, 0};
    const float frames[] = {0.5f, -0.5f, 0.5f, 0.25f, 1.5f, 2.0f, -3.0f, -1.0f};
    chunk.bytes.assign(reinterpret_cast<const std::uint8_t*>(frames),
                       reinterpret_cast<const std::uint8_t*>(frames) + sizeof frames);
    auto out = convertInPieces(chunk, {4});
    EXPECT_EQ(out, (std::vector<std::int16_t>{0, 12288, 32767, -32768}));
}

} // namespace
} // namespace talvoro
