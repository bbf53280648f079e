#pragma once

#include <cstdint>

#include "base/hotkey_binding.h"

namespace talvoro {

// One keyboard event as the hotkey tap sees it, whatever produced it.
struct KeyEvent {
    enum class Type {
        keyDown,
        keyUp,
        // A key-down that went elsewhere; it only counts as seen.
        observedKeyDown,
        // The system switched the watch off (slow callback or user input).
        tapDisabled,
    };
    static constexpr std::uint16_t otherKey = 0xFFFF;

    Type type = Type::keyDown;
    std::uint16_t keyCode = otherKey; // in HotkeyBinding's code space
    std::uint64_t flags = 0;          // in HotkeyBinding's flag word
    bool autoRepeat = false;
    bool alreadyCounted = false; // an observedKeyDown already counted this key-down as seen
    double timestamp = 0;        // monotonic clock, seconds
};

enum class KeyVerdict { pass, swallow };

class KeyEventSink {
public:
    virtual ~KeyEventSink() = default;
    // Called on the tap thread for every event; must answer at once.
    virtual KeyVerdict handle(const KeyEvent& event) = 0;
};

// The platform keyboard hook for one binding. All calls except stop() come from the tap thread.
class KeyEventSource {
public:
    virtual ~KeyEventSource() = default;
    // Takes hold of the binding's key; throws HotkeyTap::Failure when it cannot.
    virtual void open(const HotkeyBinding& binding) = 0;
    // Hands events to the sink until stop(); releases what open() took before returning.
    virtual void run(KeyEventSink& sink) = 0;
    // From any thread, also before run() began: run() returns soon after.
    virtual void stop() = 0;
    // Switches the watch back on after a tapDisabled event.
    virtual void reenable() = 0;
};

// Seconds on the monotonic clock that key event timestamps use.
double monotonicSeconds();

} // namespace talvoro
