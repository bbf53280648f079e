#include "ui/microphone_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "audio/pulse_audio_capture.h"

namespace talvoro {

namespace {

template <typename Sample> float loudest(const void* data, std::int64_t count, float scale) {
    float top = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::int64_t i = 0; i < count; ++i) {
        Sample sample;
        std::memcpy(&sample, bytes + i * sizeof(Sample), sizeof(Sample));
        top = std::max(top, std::fabs(static_cast<float>(sample)) / scale);
    }
    return top;
}

} // namespace

MicrophoneMeter::MicrophoneMeter(CaptureFactory factory) : factory_(std::move(factory)) {
    if (!factory_)
        factory_ = [](const std::string& source) {
            return std::make_unique<PulseAudioCapture>(source);
        };
}

MicrophoneMeter::~MicrophoneMeter() {
    stop();
}

float MicrophoneMeter::peakOf(const AudioBuffer& buffer) {
    const std::int64_t count = buffer.frames * buffer.format.channels;
    switch (buffer.format.sampleType) {
    case SampleType::int16:
        return loudest<std::int16_t>(buffer.data, count, 32768.0f);
    case SampleType::int32:
        return loudest<std::int32_t>(buffer.data, count, 2147483648.0f);
    case SampleType::float32:
        return std::min(1.0f, loudest<float>(buffer.data, count, 1.0f));
    }
    return 0;
}

bool MicrophoneMeter::listen(const std::string& source) {
    stop();
    capture_ = factory_(source);
    try {
        capture_->start([this](const AudioBuffer& buffer, std::uint64_t) {
            const float level = peakOf(buffer);
            float seen = peak_.load();
            while (level > seen && !peak_.compare_exchange_weak(seen, level)) {
            }
        });
    } catch (const std::exception&) {
        capture_.reset();
        return false;
    }
    return true;
}

void MicrophoneMeter::stop() {
    if (capture_)
        capture_->stop();
    capture_.reset();
    peak_ = 0;
}

float MicrophoneMeter::takePeak() {
    return peak_.exchange(0);
}

} // namespace talvoro
