#include "recognition/speech_cuts.h"

#include <algorithm>
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

// Middles of pauses of 1.5 s from 16 s: frames 800 to 875, so (800 + 875) / 2 × 320.
constexpr std::int64_t pauseMiddle = 267840;

TEST(SpeechCuts, EverySeamGoesIntoAPauseWhileTheWindowHoldsOne) {
    EXPECT_EQ(SpeechCuts::split(speechAndPauses({{16, true}, {1.5, false}, {6.5, true}}), window),
              (std::vector<SampleRange>{{0, pauseMiddle}, {pauseMiddle, 384000}}));
    // A tail long enough for the window's end does not pull the seam out of the pause.
    EXPECT_EQ(
        seams(SpeechCuts::split(speechAndPauses({{16, true}, {1.5, false}, {12, true}}), window)),
        std::vector<std::int64_t>{pauseMiddle});
    // Of two pauses the later one, unless that leaves less than six seconds after it.
    EXPECT_EQ(seams(SpeechCuts::split(
                  speechAndPauses({{8, true}, {0.5, false}, {10, true}, {0.5, false}, {2, true}}),
                  window)),
              std::vector<std::int64_t>{8 * second + 3840});
    // A pause of 14 frames is speech; of 15, a pause.
    for (const auto& [frames, seam] : {std::pair{14, window}, {15, 16 * second + 7 * 320}}) {
        auto audio = speechAndPauses({{16, true}});
        appendSamples(audio, frames * 320, 0.0005);
        appendTone(audio, 12, 0.2);
        EXPECT_EQ(seams(SpeechCuts::split(audio, window)).front(), seam) << frames;
    }
}

TEST(SpeechCuts, SpeechWithoutAPauseIsCutAtTheWindowOrLeavesSixSeconds) {
    std::vector<float> tone;
    appendTone(tone, 20, 0.2);
    EXPECT_EQ(SpeechCuts::split(tone, window), (std::vector<SampleRange>{{0, 320000}}));
    tone.push_back(0.1f); // no pause: the tail becomes exactly six seconds
    EXPECT_EQ(seams(SpeechCuts::split(tone, window)), std::vector<std::int64_t>{224001});
    std::vector<float> silence(320001, 0.0f); // no contrast either
    EXPECT_EQ(seams(SpeechCuts::split(silence, window)), std::vector<std::int64_t>{224001});
    EXPECT_EQ(seams(SpeechCuts::split(speechAndPauses({{46, true}}), window)),
              (std::vector<std::int64_t>{320000, 640000}));
    EXPECT_TRUE(SpeechCuts::split(tone, 0).empty());
    EXPECT_TRUE(SpeechCuts::split({}, window).empty());
}

// Speech ends at 2.5 s, followed by 0.2 s of pause.
TEST(SpeechCuts, SpeechHasStoppedWhenItCameAfterThePointAndItsPauseIsLongEnough) {
    const auto audio = speechAndPauses({{1, true}, {0.5, false}, {1, true}, {0.2, false}});
    EXPECT_TRUE(SpeechCuts::stoppedAfter(audio, 2 * second, second / 5));
    EXPECT_FALSE(SpeechCuts::stoppedAfter(audio, 2 * second, second / 4)) << "pause too short";
    EXPECT_FALSE(SpeechCuts::stoppedAfter(audio, second * 5 / 2, 0)) << "nothing after the point";
    EXPECT_FALSE(SpeechCuts::stoppedAfter(std::vector<float>(second), 0, 1)) << "no contrast";
}

// Random recordings of speech and pauses: the ranges always tile the audio, no piece exceeds
// the window, and every seam lies in a pause when the window before it holds one of 0.6 s.
TEST(SpeechCuts, RandomRecordingsAreAlwaysTiledWithinTheWindowAndSeamsTakePauses) {
    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<float> samples;
        std::vector<std::pair<std::int64_t, std::int64_t>> pauses;
        const double total = 10 + random() % 80;
        while (samples.size() < total * second) {
            appendTone(samples, 0.1 + (random() % 40) / 10.0, 0.2);
            const auto start = static_cast<std::int64_t>(samples.size());
            appendTone(samples, (random() % 20) / 10.0, 0.0005);
            pauses.emplace_back(start, static_cast<std::int64_t>(samples.size()));
        }
        const std::int64_t w = (8 + random() % 25) * second;
        const auto ranges = SpeechCuts::split(samples, w);
        ASSERT_FALSE(ranges.empty());
        EXPECT_EQ(ranges.front().start, 0);
        EXPECT_EQ(ranges.back().end, static_cast<std::int64_t>(samples.size()));
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            EXPECT_GT(ranges[i].length(), 0);
            EXPECT_LE(ranges[i].length(), w);
            if (i == 0)
                continue;
            EXPECT_EQ(ranges[i].start, ranges[i - 1].end);
            const auto pause = [&](auto holds) {
                return std::any_of(pauses.begin(), pauses.end(), holds);
            };
            if (pause([&](const auto& p) {
                    return p.second - p.first >= 6 * second / 10 &&
                           p.first >= ranges[i - 1].start + 640 &&
                           p.second <= ranges[i - 1].start + w;
                })) {
                EXPECT_TRUE(pause([&](const auto& p) {
                    return ranges[i].start >= p.first - 640 && ranges[i].start <= p.second + 640;
                })) << round;
            }
        }
    }
}

} // namespace
} // namespace talvoro
