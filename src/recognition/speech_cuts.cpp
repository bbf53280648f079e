#include "recognition/speech_cuts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace talvoro {

namespace {

constexpr std::int64_t sampleRate = 16000;
constexpr auto minPiece = static_cast<std::int64_t>(SpeechCuts::minPieceSeconds * sampleRate);
constexpr auto snap = static_cast<std::int64_t>(SpeechCuts::snapSeconds * sampleRate);
constexpr auto minSilenceFrames = static_cast<std::int64_t>(
    SpeechCuts::minSilenceSeconds * sampleRate / SpeechCuts::frameSamples + 0.5);
constexpr double contrastDB = 3.0;

// Eight independent partial sums let the compiler keep the loop in vector registers,
// which the loudness pass needs to keep up with memory.
float sumOfSquares(const float* p, std::size_t count) {
    float acc[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        for (int k = 0; k < 8; ++k)
            acc[k] += p[i + k] * p[i + k];
    float sum = ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]));
    for (; i < count; ++i)
        sum += p[i] * p[i];
    return sum;
}

float median3(float a, float b, float c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The middle of the pause (15 frames or more) in [lower, upper) nearest to target.
std::optional<std::int64_t> pauseNear(const std::vector<bool>& mask, std::int64_t lower,
                                      std::int64_t upper, std::int64_t target) {
    const std::int64_t frames = static_cast<std::int64_t>(mask.size());
    const std::int64_t f0 = lower / SpeechCuts::frameSamples;
    const std::int64_t f1 =
        std::min((upper + SpeechCuts::frameSamples - 1) / SpeechCuts::frameSamples, frames);
    std::optional<std::int64_t> best;
    auto consider = [&](std::int64_t first, std::int64_t end) {
        if (end - first < minSilenceFrames)
            return;
        const std::int64_t candidate = (first + end) / 2 * SpeechCuts::frameSamples;
        if (!best || std::llabs(candidate - target) < std::llabs(*best - target))
            best = candidate;
    };
    std::int64_t runStart = -1;
    for (std::int64_t f = f0; f < f1; ++f) {
        if (!mask[static_cast<std::size_t>(f)]) {
            if (runStart < 0)
                runStart = f;
        } else if (runStart >= 0) {
            consider(runStart, f);
            runStart = -1;
        }
    }
    if (runStart >= 0)
        consider(runStart, f1);
    return best;
}

} // namespace

std::vector<float> SpeechCuts::frameLevels(std::span<const float> samples) {
    std::vector<float> levels;
    levels.reserve((samples.size() + frameSamples - 1) / frameSamples);
    for (std::size_t at = 0; at < samples.size(); at += frameSamples) {
        const std::size_t length = std::min<std::size_t>(frameSamples, samples.size() - at);
        float rms =
            std::sqrt(sumOfSquares(samples.data() + at, length) / static_cast<float>(length));
        levels.push_back(20.0f * std::log10(std::max(rms, 1e-7f)));
    }
    return levels;
}

std::vector<bool> SpeechCuts::speechMask(std::span<const float> levels) {
    if (levels.empty())
        return {};
    std::vector<float> smooth(levels.begin(), levels.end());
    for (std::size_t i = 1; i + 1 < levels.size(); ++i)
        smooth[i] = median3(levels[i - 1], levels[i], levels[i + 1]);
    const auto [low, high] = std::minmax_element(smooth.begin(), smooth.end());
    const double threshold = std::max<double>(*low, noiseFloorDB) + speechAboveNoiseDB;
    if (*high < threshold + contrastDB)
        return std::vector<bool>(levels.size(), true);
    std::vector<bool> mask(levels.size());
    for (std::size_t i = 0; i < smooth.size(); ++i)
        mask[i] = smooth[i] > threshold;
    return mask;
}

std::vector<SampleRange> SpeechCuts::split(std::span<const float> samples, std::int64_t window) {
    const auto n = static_cast<std::int64_t>(samples.size());
    if (window < 1 || n == 0)
        return {};
    if (n <= window)
        return {{0, n}};

    std::vector<SampleRange> ranges;
    for (std::int64_t start = 0; start < n; start += window)
        ranges.push_back({start, std::min(start + window, n)});
    if (std::all_of(ranges.begin(), ranges.end(),
                    [](const SampleRange& r) { return r.length() >= minPiece; }))
        return ranges;

    const std::vector<bool> mask = speechMask(frameLevels(samples));
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        SampleRange& previous = ranges[i - 1];
        SampleRange& current = ranges[i];
        if (current.length() >= minPiece)
            continue;
        const std::int64_t target = current.end - minPiece;
        const std::int64_t earliest = previous.start + window / 2;
        if (earliest >= target)
            continue; // the piece before would end up shorter than half a window
        const std::int64_t lower = std::max(target - snap, earliest);
        const std::int64_t upper = std::min(target + snap, current.start);
        std::int64_t seam = target;
        if (lower < upper)
            if (auto pause = pauseNear(mask, lower, upper, target))
                seam = std::clamp(*pause, lower, upper);
        if (seam < current.start) {
            previous.end = seam;
            current.start = seam;
        }
    }
    return ranges;
}

} // namespace talvoro
