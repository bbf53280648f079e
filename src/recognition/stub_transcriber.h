#pragma once

#include "recognition/dictation_transcriber.h"

namespace talvoro {

// Stands in for recognition in the stub modes of `dictate`: waits, then reports how long
// the recording is (from its size alone) or fails as an unreachable server would.
class StubTranscriber : public DictationTranscriber {
public:
    explicit StubTranscriber(double delay = 1.0, bool alwaysFails = false)
        : delay(delay), alwaysFails(alwaysFails) {}

    std::string transcribe(const std::string& path, std::stop_token stop = {}) override;
    std::string identity() const override { return "заглушка"; }

    const double delay; // seconds
    const bool alwaysFails;

    static std::string phrase(double seconds);
};

} // namespace talvoro
