#pragma once

#include <functional>
#include <optional>
#include <string>

#include "recognition/dictation_snapshot.h"

namespace talvoro {

// A recogniser that follows a recording while it is made.
class LiveDictation {
public:
    using Log = std::function<void(const std::string&)>;

    virtual ~LiveDictation() = default;

    virtual DictationSnapshot snapshot() const = 0;
    // Diagnostic lines; set before start(). Called from the recogniser's threads (never after
    // cancel() has returned) and must not call back into it.
    Log log;
    virtual void start() = 0;
    // Stops and answers the final text, or nothing. Blocks until the final recognition is done.
    virtual std::optional<std::string> finish() = 0;
    // Stops and discards, and ends a recognition in progress; it waits for no recognition,
    // only for a call into the owner that is under way.
    virtual void cancel() = 0;
};

} // namespace talvoro
