#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "base/hotkey_binding.h"
#include "hotkey/key_event_source.h"

namespace talvoro {

class SerialQueue;

// Watches the keyboard for one binding, takes its key-down and key-up away from the
// application in front and reports them, with their delay, on the queue "ostrel.hotkey".
class HotkeyTap {
public:
    enum class Phase { down, up };

    class Failure : public std::runtime_error {
    public:
        enum class Kind { noPermission, tapCreationFailed, conflict, keyUnavailable, refused };
        static Failure noPermission();
        static Failure tapCreationFailed();
        // Another program already holds the combination.
        static Failure conflict(const HotkeyBinding& binding);
        // The key has no place on this keyboard.
        static Failure keyUnavailable(const HotkeyBinding& binding);
        // The desktop (its shortcuts portal) said no; the text says how.
        static Failure refused(const std::string& text) { return Failure(Kind::refused, text); }

        Kind kind() const { return kind_; }

    private:
        Failure(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
        Kind kind_;
    };

    struct Counters {
        int seen = 0;
        int matched = 0;
    };

    using OnEvent = std::function<void(Phase, double delaySeconds)>;
    using InterceptWhen = std::function<bool()>;
    using SourceFactory = std::function<std::unique_ptr<KeyEventSource>()>;

    // interceptWhen may be empty; it runs on the tap thread and must answer at once.
    HotkeyTap(HotkeyBinding binding, InterceptWhen interceptWhen, OnEvent onEvent,
              SourceFactory makeSource = {});
    // Reports presses only; releases are ignored.
    HotkeyTap(HotkeyBinding binding, std::function<void(double delaySeconds)> onTrigger,
              SourceFactory makeSource = {});
    ~HotkeyTap();
    HotkeyTap(const HotkeyTap&) = delete;
    HotkeyTap& operator=(const HotkeyTap&) = delete;

    const HotkeyBinding& binding() const;

    // Stops a previous run, then blocks until the tap thread holds the keyboard or failed.
    void start();
    // Idempotent; waits at most 1 s for the tap thread to end.
    void stop();

    int reenables() const;
    Counters counters() const;

    // Whether this process can hear the hotkey: the X display opens, or in a Wayland session the
    // desktop delivers it (portal or its own binding). No system prompt: `prompt` changes nothing.
    static bool permissionGranted(bool prompt = false);

private:
    struct Core;
    struct Run;
    std::shared_ptr<Core> core;
};

} // namespace talvoro
