#pragma once

#include <QImage>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "audio/dictation_recorder.h"
#include "base/config.h"
#include "dictation/dictation_failure.h"
#include "dictation/dictation_queue.h"
#include "dictation/dictation_samples.h"
#include "dictation/dictation_seams.h"
#include "dictation/dictation_state.h"
#include "hotkey/hotkey_tap.h"
#include "insertion/paster.h"
#include "recognition/dictation_snapshot.h"
#include "recognition/dictation_transcriber.h"
#include "recognition/live_dictation.h"

namespace talvoro {

// Drives one dictation at a time: a hotkey press starts recording, a second press (or the
// release of a key held long enough) stops it, the recording is recognised, cleaned and
// inserted into the focused field, and the final state lingers before idle. Failed deliveries
// wait in the queue and are retried on a timer.
//
// Lives on the main thread, owned through a shared_ptr: background work holds it weakly and
// comes back through onMainThread. Every field is the main thread's unless noted.
class DictationController : public std::enable_shared_from_this<DictationController> {
    struct Passkey {};

public:
    using State = DictationState;
    using OnState = std::function<void(const State&)>;

    struct TapCounters {
        int seen = 0;
        int matched = 0;
        int reenables = 0;
    };

    static constexpr std::uint16_t escKeyCode = 53;
    static constexpr double nowhereLinger = 8.0;
    static constexpr double blockedLinger = 6.0; // a failure that waiting will not mend

    // Throws DictationQueueError when the queue folder cannot be made.
    static std::shared_ptr<DictationController>
    create(Config config, std::shared_ptr<DictationTranscriber> transcriber, OnState onState,
           DictationSeams seams = {});
    DictationController(Passkey, Config config, std::shared_ptr<DictationTranscriber> transcriber,
                        OnState onState, DictationSeams seams);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    // Arms the key taps and the retry timer, then prepares the recogniser. Throws
    // HotkeyTap::Failure when the dictation key cannot be taken; the other taps may fail quietly.
    void start();
    // Loads the recogniser on a worker, so that the first dictation does not wait for it; the
    // owner calls it again once a downloaded model is in place. Returns at once: a recording
    // started meanwhile does not wait, a recognition that needs the model waits for this load.
    void prepareRecognizer();
    // Taps and timers off; a recording in progress is stopped and left on disk.
    void stop();

    void toggle() { toggle(false); }
    // The dictation key's press and release and Esc, when the desktop delivers them as commands.
    void press() { hotkeyEvent(HotkeyTap::Phase::down, 0, false); }
    void release() { hotkeyEvent(HotkeyTap::Phase::up, 0, false); }
    void escape() { escapePressed(); }
    // A desktop binding's tap (`talvoro toggle`). GNOME repeats the command while the key is
    // held, every few dozen milliseconds after half a second: a tap that close to the one
    // before is that repeat, not a press.
    void desktopTap();
    static constexpr double tapRepeatGap = 0.6;
    void togglePolished() { toggle(true); }
    void cancelRecording();
    void pasteLast();
    void pasteRaw();

    // Set by the owner before start().
    std::function<void(const std::string&)> log;
    std::function<bool(const std::string&)> sink; // true: the owner took the text
    double retryInterval = 20;
    double finalStateLinger = 1.2;
    double holdThreshold = 0.5;

    const State& state() const { return state_; }
    double elapsed() const { return recorder.elapsed(); }
    float level() { return recorder.level(); }
    int pendingCount() const { return static_cast<int>(queue.count()); }
    std::shared_ptr<const DictationSamples> samplesStore() const { return samples; }
    std::optional<DictationSnapshot> liveText() const;
    TapCounters tapCounters() const;
    bool polishReady() const;
    const HotkeyBinding& hotkey() const { return config.dictationHotkey; }
    const HotkeyBinding& polishHotkey() const { return config.polishHotkey; }
    const HotkeyBinding& rawPasteHotkey() const { return config.rawPasteHotkey; }

    const std::optional<std::string>& lastInserted() const { return lastInserted_; }
    const std::optional<std::string>& lastRaw() const { return lastRaw_; }
    const std::optional<std::string>& lastPolishNote() const { return lastPolishNote_; }
    const std::optional<std::string>& lastInsertNote() const { return lastInsertNote_; }
    const std::optional<QImage>& lastInsertIcon() const { return lastInsertIcon_; }
    const std::optional<DictationFailure>& lastFailure() const { return lastFailure_; }
    // Why the sound server went away during the dictation in progress or just ended.
    const std::optional<std::string>& microphoneLost() const { return microphoneLost_; }
    // Why the recogniser did not load in the background, until a later load succeeds.
    const std::optional<std::string>& recognizerError() const { return recognizerError_; }

private:
    // Read by the Esc tap's thread to decide whether to take the key.
    struct RecordingFlags {
        std::mutex lock;           // recordingLock
        bool recordingNow = false; // guarded by lock
        bool escNow = false;       // guarded by lock: recording or polishing
    };
    struct StreamGone;
    struct PolishTask {
        std::uint64_t id = 0;
        std::stop_source stop;
    };

    // Runs `then` on the main thread with the controller, when it still exists.
    static void onMainThreadWith(std::weak_ptr<DictationController> weak,
                                 std::function<void(DictationController&)> then);

    // dictation_controller.cpp: lifecycle, state, lingers.
    void setState(State next);
    void show(State final);
    void note(const std::string& line) const;
    // `desktopWide` false: a key wanted only while recording (Esc), see makeSessionKeySource.
    std::unique_ptr<HotkeyTap> makeTap(const HotkeyBinding& binding, HotkeyTap::InterceptWhen when,
                                       HotkeyTap::OnEvent onEvent, bool desktopWide = true);
    void startTaps();
    void queueLeftovers();

    // dictation_recording.cpp: keys, recording, the live stream.
    void hotkeyEvent(HotkeyTap::Phase phase, double delay, bool polished);
    void escapePressed();
    void toggle(bool polished);
    void hotkeyReleased();
    void beginRecording();
    void captureFailed(const std::string& reason);
    void microphoneLostNow(const std::string& reason);
    std::string newRecordingURL();
    void startStreaming(const std::string& url);
    void dropStream();
    void finishRecording();
    void finishStream(const std::string& url);
    void streamFinished(const std::string& url, const std::optional<std::string>& text);

    // dictation_delivery.cpp: recognition, insertion, failures, the queue, style edits.
    void deliver(const std::string& url, bool fromQueue);
    void recognised(const std::string& url, bool fromQueue, const std::string& text);
    void insertFinal(const std::string& text, const std::string& raw, const std::string& wav,
                     bool fromQueue);
    void delivered(const std::string& wav, bool fromQueue, const std::string& text,
                   const std::string& raw, const std::optional<Paster::Result>& result,
                   bool heldBack = false);
    void pasteFailed(const std::string& wav, bool fromQueue, const std::exception_ptr& error);
    void showInsertion(const std::optional<Paster::Result>& result, const std::string& text,
                       bool quietly = false);
    void handleFailure(std::exception_ptr error, const std::string& wav, bool fromQueue);
    void setAside(const std::string& wav, const DictationFailure& failure);
    void waitForUser(const DictationFailure& failure);
    void drop(const std::string& wav, bool fromQueue);
    void drainQueue();
    // Retries the oldest queued recording; false when there is none.
    bool retryFirst();
    void yieldRetry();
    bool yielded(bool fromQueue);
    void paste(const std::optional<std::string>& text);
    void beginPolish(const std::string& raw, const std::string& wav, bool fromQueue);
    void finishPolish(const PolishOutcome& outcome, std::uint64_t task);

    const Config config;
    const std::shared_ptr<DictationTranscriber> transcriber;
    const std::string engine;   // the engine's raw value, for sample records
    const std::string identity; // the transcriber's, for the journal and sample records
    const DictationQueue queue;
    const std::shared_ptr<const DictationSamples> samples;
    const OnState onState;
    const std::shared_ptr<DictationClock> clock;
    const std::shared_ptr<InsertionSeams> insertion; // null: the desktop's, made off this thread
    const std::function<std::unique_ptr<KeyEventSource>(const HotkeyBinding&)> keyboard;
    const std::function<std::shared_ptr<TextPolishing>(const Config&)> polisher;
    DictationRecorder recorder;

    State state_;
    std::shared_ptr<LiveDictation> streamer;
    std::shared_ptr<StreamGone> streamerGone; // told when the stream is destroyed
    std::unique_ptr<HotkeyTap> tap, polishTap, rawTap, escTap;
    std::unique_ptr<DictationClock::Timer> retryTimer, lingerTimer;
    bool draining = false;
    // The retry in flight gave way to a press: what comes of it changes no state, and no other
    // retry starts before it has come.
    bool retryYielded = false;
    std::stop_source retryStop;
    bool blocked = false;
    std::optional<std::string> lastInserted_, lastRaw_, lastPolishNote_, lastInsertNote_;
    // The recording of `lastInserted_` while nobody has taken its text: kept until a paste of it
    // is taken.
    std::optional<std::string> keptRecording;
    std::optional<QImage> lastInsertIcon_;
    std::optional<DictationFailure> lastFailure_;
    std::optional<std::string> recognizerError_;
    std::optional<std::string> microphoneLost_;
    const std::shared_ptr<RecordingFlags> flags = std::make_shared<RecordingFlags>();
    bool polishMode = false;
    std::optional<PolishTask> polishTask;
    std::uint64_t polishTasks = 0;
    std::optional<std::string> pendingRaw, pendingWav;
    bool pendingFromQueue = false;
    std::optional<double> pressAt;
    std::optional<double> lastTapAt;
    bool pressStartedRecording = false;
    // Ends recognitions still running when the controller goes (their recordings stay on disk).
    std::stop_source lifetime;
};

} // namespace talvoro
