#include "recognition/speech_cuts.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace talvoro {
namespace {

constexpr std::int64_t second = 16000;
constexpr std::int64_t window = 20 * second;

// Tone with a little texture: loud for speech, nearly silent for a pause.
void appendSamples(std::vector<float>& out, std::int64_t count, double level) {
    for (std::int64_t k = 0; k < count; ++k) {
        const auto i = static_cast<std::int64_t>(out.size());
        out.push_back(static_cast<float>((std::sin(0.08 * i) + ((i % 7) - 3) * 0.02) * level));
    }
}
void appendTone(std::vector<float>& out, double seconds, double level) {
    appendSamples(out, std::llround(seconds * second), level);
}
std::vector<float> speechAndPauses(std::initializer_list<std::pair<double, bool>> parts) {
    std::vector<float> out;
    for (auto [seconds, speech] : parts)
        appendTone(out, seconds, speech ? 0.2 : 0.0005);
    return out;
}

std::vector<std::int64_t> seams(const std::vector<SampleRange>& ranges) {
    std::vector<std::int64_t> result;
    for (std::size_t i = 1; i < ranges.size(); ++i)
        result.push_back(ranges[i].start);
    return result;
}

TEST(SpeechCuts, ASeamMovesIntoAPauseOrLeavesSixSecondsButNotBeforeALongTail) {
    auto pulled =
        SpeechCuts::split(speechAndPauses({{16, true}, {1.5, false}, {6.5, true}}), window);
    EXPECT_EQ(pulled, (std::vector<SampleRange>{{0, 272000}, {272000, 384000}}));
    std::vector<float> tone;
    appendTone(tone, 20, 0.2);
    EXPECT_EQ(SpeechCuts::split(tone, window), (std::vector<SampleRange>{{0, 320000}}));
    tone.push_back(0.1f); // no pause: the tail becomes exactly six seconds
    EXPECT_EQ(seams(SpeechCuts::split(tone, window)), std::vector<std::int64_t>{224001});
    std::vector<float> silence(320001, 0.0f); // no contrast either
    EXPECT_EQ(seams(SpeechCuts::split(silence, window)), std::vector<std::int64_t>{224001});
    auto longTail = speechAndPauses({{16, true}, {1.5, false}, {12, true}});
    EXPECT_EQ(seams(SpeechCuts::split(longTail, window)), std::vector<std::int64_t>{320000});
    EXPECT_EQ(seams(SpeechCuts::split(speechAndPauses({{46, true}}), window)),
              (std::vector<std::int64_t>{320000, 640000}));
    EXPECT_TRUE(SpeechCuts::split(tone, 0).empty());
    EXPECT_TRUE(SpeechCuts::split({}, window).empty());
}

// Random recordings of speech and pauses: the ranges always tile the audio, seams move
// only earlier, no piece exceeds the window, and a moved seam leaves six seconds after it
// unless a pause pulled it within the snap span.
TEST(SpeechCuts, RandomRecordingsAreAlwaysTiledWithinTheWindow) {
    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<float> samples;
        const double total = 10 + random() % 80;
        while (samples.size() < total * second) {
            appendTone(samples, 0.1 + (random() % 40) / 10.0, 0.2);
            appendTone(samples, (random() % 20) / 10.0, 0.0005);
        }
        const std::int64_t w = (8 + random() % 25) * second;
        const auto ranges = SpeechCuts::split(samples, w);
        ASSERT_FALSE(ranges.empty());
        EXPECT_EQ(ranges.front().start, 0);
        EXPECT_EQ(ranges.back().end, static_cast<std::int64_t>(samples.size()));
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            EXPECT_GT(ranges[i].length(), 0);
            EXPECT_LE(ranges[i].length(), w);
            if (i > 0) {
                EXPECT_EQ(ranges[i].start, ranges[i - 1].end);
                EXPECT_LE(ranges[i].start, static_cast<std::int64_t>(i) * w);
            }
        }
    }
}

} // namespace
} // namespace talvoro
