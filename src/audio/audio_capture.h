#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace talvoro {

enum class SampleType { int16, int32, float32 };

// The format of captured audio: interleaved frames of `channels` samples.
struct AudioFormat {
    double sampleRate = 0; // 0: no usable input
    int channels = 0;
    SampleType sampleType = SampleType::float32;

    int bytesPerSample() const { return sampleType == SampleType::int16 ? 2 : 4; }
    int bytesPerFrame() const { return bytesPerSample() * channels; }
    bool usable() const { return sampleRate > 0 && channels > 0; }
    bool operator==(const AudioFormat&) const = default;
};

// A view of one captured buffer; the bytes belong to the capture and live only for the call.
struct AudioBuffer {
    AudioFormat format;
    const void* data = nullptr;
    std::int64_t frames = 0;
};

// What the sound system says about recording: whether its server answered and the format
// of the default input (not usable when there is none).
struct InputStatus {
    bool serverAnswers = false;
    AudioFormat format;
};

// A source of captured buffers. The recorder asks it for the input format, starts it with a
// callback and stops it; buffers arrive on the capture's own thread (the audio thread), each
// with the host time (HostTime ticks) of its first frame.
class AudioCapture {
public:
    using Callback = std::function<void(const AudioBuffer& buffer, std::uint64_t hostTime)>;
    using Lost = std::function<void(const std::string& reason)>;

    virtual ~AudioCapture() = default;

    // Connects when needed and looks up the default input, so that a later start is quick.
    virtual InputStatus inputStatus() = 0;
    // Begins delivering buffers of the default input in its own format. Throws
    // CoreAudioError; a failed start leaves nothing running.
    virtual void start(Callback callback) = 0;
    // After it returns no callback runs and none will. Harmless when not started.
    virtual void stop() = 0;
    // For the captures started after it: told at most once per capture, on the audio thread, when
    // the sound server or the source goes away while capturing (why, for the user). No buffers
    // come after it.
    virtual void setLostHandler(Lost lost) = 0;
};

} // namespace talvoro
