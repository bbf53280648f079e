#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "audio/audio_capture.h"

namespace talvoro {

// Listens to one source while the settings window is open, so the user sees the microphone
// hears them: the loudest sample since the last reading, 0 to 1.
class MicrophoneMeter {
public:
    // A capture of that source (empty: the server's default); PulseAudio's when empty.
    using CaptureFactory = std::function<std::unique_ptr<AudioCapture>(const std::string&)>;

    explicit MicrophoneMeter(CaptureFactory factory = {});
    ~MicrophoneMeter();
    MicrophoneMeter(const MicrophoneMeter&) = delete;
    MicrophoneMeter& operator=(const MicrophoneMeter&) = delete;

    // Stops the previous source; false when this one cannot be heard.
    bool listen(const std::string& source);
    void stop();
    float takePeak();

    static float peakOf(const AudioBuffer& buffer);

private:
    CaptureFactory factory_;
    std::unique_ptr<AudioCapture> capture_;
    std::atomic<float> peak_ = 0; // written on the audio thread
};

} // namespace talvoro
