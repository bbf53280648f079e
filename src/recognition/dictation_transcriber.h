#pragma once

#include <stdexcept>
#include <stop_token>
#include <string>

namespace talvoro {

// Turns a finished recording into its raw text. transcribe blocks, may be called from any
// thread, and throws on failure; an empty text means nothing was heard.
class DictationTranscriber {
public:
    virtual ~DictationTranscriber() = default;

    virtual std::string transcribe(const std::string& path, std::stop_token stop = {}) = 0;
    // Loads what recognition needs, so that the first transcribe does not wait for it. Blocks;
    // a call while another load runs waits for that load instead of starting a second one.
    // Returns at once when loaded already, or when the stop came before the load began.
    // Throws as transcribe would when the engine cannot be loaded.
    virtual void prepare(std::stop_token stop = {}) { (void)stop; }
    // A short human-readable name of the engine, for the journal.
    virtual std::string identity() const = 0;
};

// Thrown when the caller's stop token ended a recognition before it answered.
class TranscriptionCancelled : public std::runtime_error {
public:
    TranscriptionCancelled() : std::runtime_error("распознавание отменено") {}
};

} // namespace talvoro
