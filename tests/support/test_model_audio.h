#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "audio/wav_writer.h"

namespace talvoro::testing {

// "привет мир" for the generated test model: its 300 Hz and 450 Hz tones, each held 0.32 s
// between silences. Returns the path.
inline std::string writeTestModelGreeting(const std::string& path) {
    talvoro::WAVWriter writer(path);
    std::vector<std::int16_t> samples(5120, 0);
    for (const double frequency : {300.0, 450.0}) {
        for (int i = 0; i < 5120; ++i)
            samples.push_back(static_cast<std::int16_t>(
                std::lround(16000 * std::sin(2 * std::numbers::pi * frequency * i / 16000))));
        samples.insert(samples.end(), 5120, 0);
    }
    writer.write(samples);
    writer.close();
    return path;
}

} // namespace talvoro::testing
