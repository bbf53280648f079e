#pragma once

#include "audio/audio_capture.h"

namespace talvoro {

// Microphone permission. A plain Linux desktop has no per-program permission: recording is
// allowed when the sound server answers and has a default source. The numbers are those the
// `dictate` line prints.
namespace Mic {

enum class Authorization : int { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

Authorization authorization(const InputStatus& status);
// Asks the sound server (a short-lived connection of its own).
Authorization authorizationStatus();
inline int rawValue(Authorization a) {
    return static_cast<int>(a);
}
// Nothing to ask here: true exactly when recording is possible now.
bool requestPermission();

} // namespace Mic

} // namespace talvoro
