#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <thread>

#include "recognition/live_dictation.h"

namespace talvoro {

// Re-recognises a growing WAV file every few tenths of a second on its own thread
// ("ostrel.live"). Each pass decodes only the audio after the committed point, and commits the
// part of it up to the latest pause once that part is long enough to recognise well; so a pass
// never decodes much more than one such piece, however long the dictation. The shown text is
// the committed text followed by the latest pass's text, and at the end the final text is the
// committed text followed by a recognition of the open tail only.
//
// When speech stops, the pass that hears all of it starts at once, so that it is usually over
// before the key is let go: without waiting for a full step, and cutting a stale pass (one
// that does not hear the end), which a second thread ("ostrel.pause") watches for while a
// pass recognises.
//
// Own it with a shared_ptr: the loop holds it weakly. Every call may come from any thread and
// any pair may overlap: finish() on a worker while cancel() comes from the main thread, the
// owner dropping the stream right after cancel(). Once cancel() has returned, neither
// `available` nor `log` is called again.
class LocalDictationStream : public LiveDictation,
                             public std::enable_shared_from_this<LocalDictationStream> {
public:
    // The recogniser a stream drives. The call blocks; the engine serialises calls itself. A
    // stop ends the call early with TranscriptionCancelled.
    class Engine {
    public:
        virtual ~Engine() = default;
        virtual std::string transcribe(std::span<const float> samples, std::stop_token stop) = 0;
    };

    // available: the frames already in the file; called on the stream's thread.
    LocalDictationStream(std::shared_ptr<Engine> transcriber, std::string url,
                         std::function<std::int64_t()> available);
    ~LocalDictationStream() override;
    LocalDictationStream(const LocalDictationStream&) = delete;
    LocalDictationStream& operator=(const LocalDictationStream&) = delete;

    DictationSnapshot snapshot() const override;
    // Starts the loop once; later calls, and calls after finish() or cancel(), do nothing.
    void start() override;
    // Ends the live pass in flight at once unless it has heard all the speech, then recognises
    // what the live passes have not heard: the committed text and the open tail's. An empty text
    // when nothing was said; nothing when the tail could not be recognised (or the stream was
    // cancelled).
    std::optional<std::string> finish() override;
    // Also ends a final recognition in progress: finish() then answers nothing.
    void cancel() override;

    double slowestPassSeconds() const;

    // Tuning; change before start().
    double minSeconds = 1.0;
    // The shortest piece committed: it ends in a pause. Three seconds is the short end of the
    // utterances the model learnt from, so a piece is a phrase rather than a lone word; longer
    // pieces leave more for the release to recognise and cost more while recording
    // (dictation_bench --commit-lengths).
    double commitSeconds = 3.0;
    // Uncommitted audio longer than this without a pause is cut where it must be.
    double longestSeconds = 20.0;
    // How often the loop and the watcher look at the recording.
    double tickSeconds = 0.05;
    double stepSeconds = 0.3;
    // How long speech that a pass does not hear must have stopped for the pass to be stale:
    // longer than the gaps between words, well within the pause before a release.
    double staleAfterSeconds = 0.15;

private:
    static void runLoop(std::weak_ptr<LocalDictationStream> stream, std::int64_t stepSamples,
                        std::stop_token stop);
    // False when the pass found nothing to decode (no file yet, nothing past the commit).
    bool pass(std::int64_t available, std::stop_token stop);
    // Where the uncommitted samples may be committed: the latest pause after commitSeconds.
    std::optional<std::int64_t> commitPoint(std::span<const float> samples) const;
    void waitTick();
    // The pass's text of the audio after its commit, [from, upTo) of the file. While it runs,
    // a watcher cuts it should it turn stale.
    std::string transcribeOpen(std::span<const float> open, std::int64_t from, std::int64_t upTo,
                               std::stop_token stop);
    // True when speech came after `upTo` and has stopped since: a pass up to there is stale.
    bool stale(std::int64_t from, std::int64_t upTo) const;
    bool isLastPassCut() const;
    // True when the pass in flight is worth waiting for at the release: it decodes all the
    // speech, and the last finished pass did not already hear it all.
    bool worthWaitingFor() const;
    // The owner's callbacks, never once the stream is cancelled (or, for available, stopped).
    std::optional<std::int64_t> availableNow();
    void note(const std::string& line);
    bool isCancelled() const;

    const std::shared_ptr<Engine> transcriber;
    const std::string url;
    const std::function<std::int64_t()> available;

    std::stop_source liveStop;  // ends live passes: finish() and cancel()
    std::stop_source finalStop; // ends the final pass: cancel()

    // Held while available or log runs, so that cancel() can wait for a call in progress.
    // Taken before lock, never after it.
    std::mutex callbackLock;

    mutable std::mutex lock;
    std::condition_variable wake;         // with lock: ends a tick early when the stream stops
    std::thread loop;                     // guarded by lock; moved out by whoever ends it
    bool started = false;                 // guarded by lock
    bool shouldStop = false;              // guarded by lock
    bool cancelled = false;               // guarded by lock
    std::string shown;                    // guarded by lock
    std::int64_t decodedUpTo = 0;         // guarded by lock: where the last pass looked up to
    std::optional<std::int64_t> passUpTo; // guarded by lock: the running pass's end
    std::string committed;                // guarded by lock
    std::int64_t committedUpTo = 0;       // guarded by lock
    std::string tail;                     // guarded by lock: the text of [committedUpTo, tailUpTo)
    std::int64_t tailUpTo = 0;            // guarded by lock
    double slowestPass = 0;               // guarded by lock
    // Guarded by lock. The pass after a cut is never cut, so that speech with many short stops
    // still shows.
    bool lastPassCut = false;
};

} // namespace talvoro
