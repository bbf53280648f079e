#pragma once

#include <functional>
#include <string>

namespace talvoro {

// What keeps dictation from starting, true meaning missing. Here the microphone is the sound
// server with a source to record from, input monitoring an X display we can grab keys on, and
// accessibility the XTEST extension that presses the paste keys.
struct MissingPermissions {
    bool microphone = false;
    bool inputMonitoring = false;
    bool accessibility = false;

    bool isEmpty() const { return !microphone && !inputMonitoring && !accessibility; }
    // "микрофон, мониторинг ввода, универсальный доступ", only the missing ones.
    std::string text() const;
    bool operator==(const MissingPermissions&) const = default;

    // Asks the sound server and the X server, without prompting.
    static MissingPermissions check();
};

// How the presenter learns the permissions; the system's own when empty.
using PermissionProbe = std::function<MissingPermissions()>;

} // namespace talvoro
