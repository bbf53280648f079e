#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "recognition/live_dictation.h"

namespace talvoro {

// Re-recognises a growing WAV file every few tenths of a second on its own thread
// ("ostrel.live"). Each pass decodes only the audio after the committed point; once that
// audio is longer than windowSeconds, a pass may commit its finished pieces. The shown text
// is the committed text followed by the latest pass's text. Own it with a shared_ptr: the
// loop holds it weakly.
class LocalDictationStream : public LiveDictation,
                             public std::enable_shared_from_this<LocalDictationStream> {
public:
    // The recogniser a stream drives. Both calls block; the engine serialises them itself.
    class Engine {
    public:
        struct Cut {
            std::string text;
            std::int64_t upTo = 0; // end index in the given samples
        };
        struct Look {
            std::string text;
            std::optional<Cut> cut;
        };

        virtual ~Engine() = default;
        virtual std::string transcribe(std::span<const float> samples) = 0;
        // The text of all the samples and, when mayCut and some window ended before the end
        // of the samples, the finished part.
        virtual Look look(std::span<const float> samples, bool mayCut) = 0;
    };

    LocalDictationStream(std::shared_ptr<Engine> transcriber, std::string url,
                         std::function<std::int64_t()> available);
    ~LocalDictationStream() override;
    LocalDictationStream(const LocalDictationStream&) = delete;
    LocalDictationStream& operator=(const LocalDictationStream&) = delete;

    DictationSnapshot snapshot() const override;
    void start() override;
    std::optional<std::string> finish() override;
    void cancel() override;

    double slowestPassSeconds() const;

    // Tuning; change before start().
    double minSeconds = 1.0;
    double windowSeconds = 12.0;
    double tickSeconds = 0.1;
    double stepSeconds = 0.3;

private:
    static void runLoop(std::weak_ptr<LocalDictationStream> stream, std::int64_t stepSamples);
    // False when the pass found nothing to decode (no file yet, nothing past the commit).
    bool pass(std::int64_t available);
    void waitTick();
    void note(const std::string& line) const;

    const std::shared_ptr<Engine> transcriber;
    const std::string url;
    const std::function<std::int64_t()> available;

    std::thread loop; // started, joined and detached by the owner's calls and the destructor

    mutable std::mutex lock;
    std::condition_variable wake;   // with lock: ends a tick early when the stream stops
    bool shouldStop = false;        // guarded by lock
    bool cancelled = false;         // guarded by lock
    std::string shown;              // guarded by lock
    std::int64_t decodedUpTo = 0;   // guarded by lock
    std::string committed;          // guarded by lock
    std::int64_t committedUpTo = 0; // guarded by lock
    double slowestPass = 0;         // guarded by lock
};

} // namespace talvoro
