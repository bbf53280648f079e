#pragma once

#include "audio/audio_capture.h"

#include <memory>
#include <string>

namespace talvoro {

// Records the preferred source while the server has it, else the server's default source,
// through a PulseAudio record stream (PipeWire desktops serve the same protocol). The threaded main
// loop's thread is the audio thread: the callback runs there. The connection to the server is kept
// between recordings, so a start after inputStatus() costs only the stream's set-up.
class PulseAudioCapture final : public AudioCapture {
public:
    // An empty name follows the server's default.
    explicit PulseAudioCapture(std::string preferredSource = {});
    ~PulseAudioCapture() override;
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    InputStatus inputStatus() override;
    void start(Callback callback) override;
    void stop() override;
    void setLostHandler(Lost lost) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace talvoro
