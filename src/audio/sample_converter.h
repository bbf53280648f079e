#pragma once

#include "audio/audio_capture.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace talvoro {

// Turns buffers of one input format into 16 kHz mono signed 16-bit samples: channels are
// averaged, the rate is changed by a streaming libsoxr resampler that keeps its filter state
// from one buffer to the next (no seams between buffers), and floats are rounded and clipped.
// Not thread-safe: its owner serialises the calls.
class SampleConverter {
public:
    static constexpr int targetRate = 16000;

    // Throws std::runtime_error when the format is unusable or the resampler cannot be made.
    explicit SampleConverter(const AudioFormat& input);
    ~SampleConverter();
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;

    const AudioFormat& inputFormat() const { return input; }

    // Replaces `out` with the samples this buffer yields (the resampler may hold some back
    // until later buffers). Returns false when the resampler failed.
    bool convert(const AudioBuffer& buffer, std::vector<std::int16_t>& out);
    // Ends the stream and hands over what the resampler still holds. The converter takes no
    // more input afterwards.
    bool finish(std::vector<std::int16_t>& out);

private:
    struct Resampler;

    void mixDown(const AudioBuffer& buffer);
    bool resample(const float* in, std::size_t frames, bool last);
    static void toInt16(const std::vector<float>& in, std::vector<std::int16_t>& out);

    AudioFormat input;
    std::unique_ptr<Resampler> resampler; // absent when the input is already 16 kHz
    bool finished = false;
    std::vector<float> mono;      // the buffer's channels averaged
    std::vector<float> resampled; // mono at the target rate
};

} // namespace talvoro
