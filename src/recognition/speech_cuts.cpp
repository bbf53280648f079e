#include "recognition/speech_cuts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace talvoro {

namespace {

constexpr std::int64_t sampleRate = 16000;
constexpr auto minPiece = static_cast<std::int64_t>(SpeechCuts::minPieceSeconds * sampleRate);
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

// The middle of the latest pause that begins at or after `earliest` and holds 15 frames or more
// before `latest` (a pause running past it counts up to it).
std::optional<std::int64_t> lastPause(const std::vector<bool>& mask, std::int64_t earliest,
                                      std::int64_t latest) {
    constexpr std::int64_t size = SpeechCuts::frameSamples;
    const auto speech = [&](std::int64_t f) { return mask[static_cast<std::size_t>(f)]; };
    std::int64_t f = std::min(static_cast<std::int64_t>(mask.size()), latest / size);
    while (f > 0) {
        while (f > 0 && speech(f - 1))
            --f;
        const std::int64_t end = f;
        while (f > 0 && !speech(f - 1))
            --f;
        if (f * size < earliest)
            return std::nullopt;
        if (end - f >= minSilenceFrames)
            return (f + end) / 2 * size;
    }
    return std::nullopt;
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

std::optional<std::int64_t> SpeechCuts::pauseSeam(std::span<const float> samples,
                                                  std::int64_t earliest, std::int64_t latest) {
    if (samples.empty() || earliest > latest)
        return std::nullopt;
    return lastPause(speechMask(frameLevels(samples)), earliest, latest);
}

bool SpeechCuts::silentFrom(std::span<const float> samples, std::int64_t from) {
    if (from >= static_cast<std::int64_t>(samples.size()))
        return true;
    const std::vector<bool> mask = speechMask(frameLevels(samples));
    return std::none_of(mask.begin() + std::max<std::int64_t>(0, from) / frameSamples, mask.end(),
                        [](bool speech) { return speech; });
}

bool SpeechCuts::stoppedAfter(std::span<const float> samples, std::int64_t from,
                              std::int64_t pause) {
    const std::vector<bool> mask = speechMask(frameLevels(samples));
    const auto last = std::find(mask.rbegin(), mask.rend(), true);
    const auto speechEnd = static_cast<std::int64_t>(mask.rend() - last) * frameSamples;
    // The same frames as silentFrom(samples, from) looks at: speech is heard or has stopped.
    return last != mask.rend() &&
           speechEnd > std::max<std::int64_t>(0, from) / frameSamples * frameSamples &&
           std::ssize(samples) - speechEnd >= pause;
}

std::vector<SampleRange> SpeechCuts::split(std::span<const float> samples, std::int64_t window) {
    const auto n = static_cast<std::int64_t>(samples.size());
    if (window < 1 || n == 0)
        return {};
    if (n <= window)
        return {{0, n}};

    const std::vector<bool> mask = speechMask(frameLevels(samples));
    std::vector<SampleRange> ranges;
    std::int64_t start = 0;
    while (n - start > window) {
        const std::int64_t latest = start + window;
        // A pause that leaves a tail long enough to recognise well, else any pause in the
        // window; a word is never cut while a pause is there to take the seam.
        std::optional<std::int64_t> seam =
            lastPause(mask, start + 1, std::min(latest, n - minPiece));
        if (!seam)
            seam = lastPause(mask, start + 1, latest);
        if (!seam) {
            // Speech without a pause: cut at the window's end, or earlier so that the last
            // piece keeps six seconds when that leaves this one at least half a window.
            seam = latest;
            if (n - latest < minPiece && n - minPiece > start + window / 2)
                seam = n - minPiece;
        }
        ranges.push_back({start, *seam});
        start = *seam;
    }
    ranges.push_back({start, n});
    return ranges;
}

} // namespace talvoro
