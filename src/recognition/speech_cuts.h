#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace talvoro {

// A half-open range [start, end) of sample indices.
struct SampleRange {
    std::int64_t start = 0;
    std::int64_t end = 0;

    std::int64_t length() const { return end - start; }
    bool operator==(const SampleRange&) const = default;
};

// Where a long recording (16 kHz mono floats) is cut into windows for the model. Every seam
// goes into a pause when the window holds one (the latest, preferring one that leaves the last
// piece six seconds); only speech without a pause is cut at the window's end, or earlier to
// leave six seconds after it. Pauses are found against a noise floor measured on the
// recording itself.
namespace SpeechCuts {

inline constexpr std::int64_t frameSamples = 320; // 20 ms
inline constexpr double minPieceSeconds = 6.0;
inline constexpr double minSilenceSeconds = 0.3;
inline constexpr double speechAboveNoiseDB = 8.0;
inline constexpr double noiseFloorDB = -60.0;

// Consecutive ranges covering [0, samples.size()), each at most `window` long. No ranges for
// an empty list or a window below 1.
std::vector<SampleRange> split(std::span<const float> samples, std::int64_t window);

// The middle of the latest pause that begins at or after `earliest` and lasts at least
// minSilenceSeconds before `latest` (a pause running past `latest` counts up to it); nothing
// when there is none.
std::optional<std::int64_t> pauseSeam(std::span<const float> samples, std::int64_t earliest,
                                      std::int64_t latest);

// True when no frame from sample `from` on is speech, judged against all the samples; so
// also when `from` is at or past their end.
bool silentFrom(std::span<const float> samples, std::int64_t from);

// True when speech comes from sample `from` on (silentFrom is false) and none in the last
// `pause` samples: speech that has stopped since `from`. Judged against all the samples.
bool stoppedAfter(std::span<const float> samples, std::int64_t from, std::int64_t pause);

// Loudness in dB of each 320-sample frame; the last frame holds what is left.
std::vector<float> frameLevels(std::span<const float> samples);

// Speech (true) or pause per frame, after a three-frame median; all speech when the
// loudest frame is not 3 dB above the threshold.
std::vector<bool> speechMask(std::span<const float> levels);

} // namespace SpeechCuts

} // namespace talvoro
