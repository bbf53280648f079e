#pragma once

#include "audio/wav_reader.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talvoro::testing {

inline std::vector<float> recordedSamples(const std::string& path) {
    WAVReader reader(path);
    return reader.samples(0, reader.sampleCount);
}

// Frequency of a tone from its rising zero crossings, over [from, to).
inline double toneFrequency(const std::vector<float>& s, std::size_t from, std::size_t to,
                            double rate = 16000) {
    std::size_t first = 0, last = 0, rises = 0;
    for (std::size_t i = from + 1; i < to && i < s.size(); ++i)
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (rises++ == 0)
                first = i;
            last = i;
        }
    return rises < 2 ? 0 : (rises - 1) * rate / static_cast<double>(last - first);
}

inline float loudest(const std::vector<float>& s, std::size_t from, std::size_t to) {
    float peak = 0;
    for (std::size_t i = from; i < to && i < s.size(); ++i)
        peak = std::max(peak, std::abs(s[i]));
    return peak;
}

} // namespace talvoro::testing
