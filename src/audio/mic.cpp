#include "audio/mic.h"

#include "audio/pulse_audio_capture.h"

namespace talvoro::Mic {

Authorization authorization(const InputStatus& status) {
    if (!status.serverAnswers)
        return Authorization::denied;
    if (!status.format.usable())
        return Authorization::restricted;
    return Authorization::authorized;
}

Authorization authorizationStatus() {
    PulseAudioCapture capture;
    return authorization(capture.inputStatus());
}

bool requestPermission() {
    return authorizationStatus() == Authorization::authorized;
}

} // namespace talvoro::Mic
