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

TEST(SpeechCuts, AShortTailIsPulledToSixSecondsIntoThePause) {
    auto samples = speechAndPauses({{16, true}, {1.5, false}, {6.5, true}});
    auto ranges = SpeechCuts::split(samples, window);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], (SampleRange{0, 272000}));
    EXPECT_EQ(ranges[1], (SampleRange{272000, 384000}));
}

TEST(SpeechCuts, WithoutAPauseTheTailBecomesExactlySixSeconds) {
    std::vector<float> samples;
    appendTone(samples, 20, 0.2);
    EXPECT_EQ(SpeechCuts::split(samples, window), (std::vector<SampleRange>{{0, 320000}}));
    samples.push_back(0.1f);
    EXPECT_EQ(SpeechCuts::split(samples, window),
              (std::vector<SampleRange>{{0, 224001}, {224001, 320001}}));
    // Silence alone has no contrast either.
    std::vector<float> silence(320001, 0.0f);
    EXPECT_EQ(seams(SpeechCuts::split(silence, window)), std::vector<std::int64_t>{224001});
}

TEST(SpeechCuts, SeamsBeforeLongPiecesStay) {
    auto longTail = speechAndPauses({{16, true}, {1.5, false}, {12, true}});
    EXPECT_EQ(seams(SpeechCuts::split(longTail, window)), std::vector<std::int64_t>{320000});
    auto continuous = speechAndPauses({{46, true}});
    EXPECT_EQ(seams(SpeechCuts::split(continuous, window)),
              (std::vector<std::int64_t>{320000, 640000}));
}

TEST(SpeechCuts, NothingToCutGivesNoRanges) {
    std::vector<float> samples(100, 0.1f);
    EXPECT_TRUE(SpeechCuts::split(samples, 0).empty());
    EXPECT_TRUE(SpeechCuts::split(samples, -5).empty());
    EXPECT_TRUE(SpeechCuts::split({}, window).empty());
    EXPECT_TRUE(SpeechCuts::frameLevels({}).empty());
    EXPECT_TRUE(SpeechCuts::speechMask({}).empty());
}

// A frame-aligned pause of the given frames starting at frame 881, inside the search span
// around the target 288000 of a 24 s recording.
std::vector<float> pauseOfFrames(int frames) {
    std::vector<float> samples;
    appendSamples(samples, 881 * 320, 0.2);
    appendSamples(samples, frames * 320, 0.0005);
    appendSamples(samples, 24 * second - (881 + frames) * 320, 0.2);
    return samples;
}

TEST(SpeechCuts, APauseMustLastFifteenFrames) {
    EXPECT_EQ(seams(SpeechCuts::split(pauseOfFrames(14), window)),
              std::vector<std::int64_t>{288000});
    EXPECT_EQ(seams(SpeechCuts::split(pauseOfFrames(15), window)),
              std::vector<std::int64_t>{(881 + 896) / 2 * 320});
}

TEST(SpeechCuts, FrameLevelsUseEachFrameItsOwnLength) {
    std::vector<float> samples(650, 0.5f);
    std::fill(samples.begin() + 320, samples.begin() + 640, 0.0f);
    auto levels = SpeechCuts::frameLevels(samples);
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_NEAR(levels[0], -6.0206, 1e-3);
    EXPECT_NEAR(levels[1], -140.0, 1e-3); // rms floored at 1e-7
    EXPECT_NEAR(levels[2], -6.0206, 1e-3);
}

TEST(SpeechCuts, MaskSmoothsSpikesAndKeepsTheNoiseFloorAtMinusSixty) {
    // A lone loud frame in a pause is smoothed away; the end frames are not smoothed.
    std::vector<float> spike{-20, -80, -80, -20, -80, -80, -20, -20, -20};
    EXPECT_EQ(SpeechCuts::speechMask(spike),
              (std::vector<bool>{true, false, false, false, false, false, true, true, true}));
    // Digital silence does not drag the threshold below -52 dB.
    std::vector<float> floor{-140, -140, -140, -55, -55, -55, -20, -20, -20};
    EXPECT_EQ(SpeechCuts::speechMask(floor),
              (std::vector<bool>{false, false, false, false, false, false, true, true, true}));
    // Less than 3 dB above the threshold anywhere: all speech.
    std::vector<float> flat{-50, -50, -40, -40, -40};
    EXPECT_EQ(SpeechCuts::speechMask(flat), std::vector<bool>(5, true));
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
