#include "audio/sample_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <soxr.h>
#include <stdexcept>
#include <string>

namespace talvoro {

struct SampleConverter::Resampler {
    soxr_t handle = nullptr;
    double ratio = 1; // output frames per input frame
    ~Resampler() {
        if (handle)
            soxr_delete(handle);
    }
};

SampleConverter::SampleConverter(const AudioFormat& input) : input(input) {
    if (!input.usable() || !std::isfinite(input.sampleRate))
        throw std::runtime_error("unusable input format");
    if (input.sampleRate == targetRate)
        return;
    // Float in and out: the rounding to 16 bits happens here, without dither, so equal
    // input always gives equal output.
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    io.flags |= SOXR_NO_DITHER;
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    auto made = std::make_unique<Resampler>();
    made->handle = soxr_create(input.sampleRate, targetRate, 1, &error, &io, &quality, &runtime);
    if (error || !made->handle)
        throw std::runtime_error(std::string("soxr_create: ") + (error ? error : "?"));
    made->ratio = targetRate / input.sampleRate;
    resampler = std::move(made);
}

SampleConverter::~SampleConverter() = default;

bool SampleConverter::convert(const AudioBuffer& buffer, std::vector<std::int16_t>& out) {
    out.clear();
    if (finished || buffer.frames <= 0 || !buffer.data)
        return !finished;
    mixDown(buffer);
    if (!resampler) {
        toInt16(mono, out);
        return true;
    }
    if (!resample(mono.data(), mono.size(), false))
        return false;
    toInt16(resampled, out);
    return true;
}

bool SampleConverter::finish(std::vector<std::int16_t>& out) {
    out.clear();
    if (finished)
        return true;
    finished = true;
    if (!resampler)
        return true;
    if (!resample(nullptr, 0, true))
        return false;
    toInt16(resampled, out);
    return true;
}

void SampleConverter::mixDown(const AudioBuffer& buffer) {
    const auto frames = static_cast<std::size_t>(buffer.frames);
    const auto channels = static_cast<std::size_t>(input.channels);
    mono.resize(frames);
    auto mix = [&](auto* samples, float scale) {
        for (std::size_t f = 0; f < frames; ++f) {
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c)
                sum += static_cast<float>(samples[f * channels + c]);
            mono[f] = sum * scale / static_cast<float>(channels);
        }
    };
    switch (input.sampleType) {
    case SampleType::int16:
        mix(static_cast<const std::int16_t*>(buffer.data), 1.0f / 32768.0f);
        break;
    case SampleType::int32:
        mix(static_cast<const std::int32_t*>(buffer.data), 1.0f / 2147483648.0f);
        break;
    case SampleType::float32:
        mix(static_cast<const float*>(buffer.data), 1.0f);
        break;
    }
}

bool SampleConverter::resample(const float* in, std::size_t frames, bool last) {
    resampled.clear();
    // Room for what this input yields plus what the filter held back; grows when soxr
    // has more to give.
    std::size_t capacity =
        static_cast<std::size_t>(resampler->ratio * static_cast<double>(frames)) + 1024;
    std::size_t consumed = 0;
    for (;;) {
        std::size_t produced = resampled.size();
        resampled.resize(produced + capacity);
        std::size_t inDone = 0;
        std::size_t outDone = 0;
        soxr_error_t error =
            soxr_process(resampler->handle, last ? nullptr : in + consumed, frames - consumed,
                         &inDone, resampled.data() + produced, capacity, &outDone);
        resampled.resize(produced + outDone);
        if (error)
            return false;
        consumed += inDone;
        // soxr stops early only when the output was full; then there may be more.
        if (consumed >= frames && outDone < capacity)
            return true;
        if (inDone == 0 && outDone == 0)
            return true;
    }
}

void SampleConverter::toInt16(const std::vector<float>& in, std::vector<std::int16_t>& out) {
    out.resize(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        float scaled = std::nearbyint(in[i] * 32768.0f);
        if (!(scaled > -32768.0f)) // NaN lands here too
            scaled = std::isnan(in[i]) ? 0.0f : -32768.0f;
        out[i] = static_cast<std::int16_t>(std::min(scaled, 32767.0f));
    }
}

} // namespace talvoro
