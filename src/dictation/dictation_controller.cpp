#include "dictation/dictation_controller.h"

#include <filesystem>

#include "audio/pulse_audio_capture.h"
#include "base/journal.h"
#include "base/main_thread.h"
#include "dictation/dictation_work.h"
#include "dictation/leftover_recordings.h"
#include "hotkey/session_key_source.h"
#include "recognition/dictation_engine_store.h"

namespace talvoro {

namespace {

std::unique_ptr<AudioCapture> captureOrPulse(std::unique_ptr<AudioCapture> capture,
                                             const std::string& microphone) {
    return capture ? std::move(capture) : std::make_unique<PulseAudioCapture>(microphone);
}

} // namespace

std::shared_ptr<DictationController>
DictationController::create(Config config, std::shared_ptr<DictationTranscriber> transcriber,
                            OnState onState, DictationSeams seams) {
    return std::make_shared<DictationController>(
        Passkey{}, std::move(config), std::move(transcriber), std::move(onState), std::move(seams));
}

DictationController::DictationController(Passkey, Config config,
                                         std::shared_ptr<DictationTranscriber> transcriber,
                                         OnState onState, DictationSeams seams)
    : config(std::move(config)), transcriber(std::move(transcriber)),
      engine(rawValue(DictationEngineStore::current(this->config))),
      identity(this->transcriber->identity()), queue(this->config.dictationDir + "/pending"),
      samples(std::make_shared<DictationSamples>(this->config.dictationDir + "/samples")),
      onState(std::move(onState)), clock(seams.clock ? seams.clock : systemDictationClock()),
      insertion(std::move(seams.insertion)), keyboard(std::move(seams.keyboard)),
      polisher(seams.polisher ? seams.polisher : makePolisher),
      recorder(captureOrPulse(std::move(seams.capture), this->config.microphone)) {
    // Told by the recorder on this thread while it, a member, exists.
    recorder.onStartFailed = [this](const std::string& reason) { captureFailed(reason); };
    recorder.onLost = [this](const std::string& reason) { microphoneLostNow(reason); };
}

DictationController::~DictationController() {
    lifetime.request_stop();
    retryStop.request_stop();
    stop();
}

void DictationController::onMainThreadWith(std::weak_ptr<DictationController> weak,
                                           std::function<void(DictationController&)> then) {
    onMainThread([weak = std::move(weak), then = std::move(then)] {
        if (const auto self = weak.lock())
            then(*self);
    });
}

void DictationController::note(const std::string& line) const {
    if (log)
        log(line);
}

void DictationController::setState(State next) {
    const bool changed = !(next == state_);
    state_ = std::move(next);
    {
        std::lock_guard guard(flags->lock);
        flags->recordingNow = state_.is(State::Kind::recording);
        flags->escNow = state_.is(State::Kind::recording) || state_.is(State::Kind::polishing);
    }
    // Nobody to tell while the controller is being destroyed.
    if (changed && onState && !weak_from_this().expired())
        onState(state_);
}

void DictationController::show(State final) {
    draining = false;
    dropStream();
    setState(final);
    lingerTimer.reset();
    double linger = finalStateLinger;
    if (final.is(State::Kind::nowhere) || final.is(State::Kind::inClipboard))
        linger = nowhereLinger;
    else if (final.is(State::Kind::failed) && lastFailure_ && !lastFailure_->isTransient())
        linger = blockedLinger;
    lingerTimer = clock->after(linger, [weak = weak_from_this(), final] {
        if (const auto self = weak.lock(); self && self->state_ == final)
            self->setState(State::idle());
    });
}

std::unique_ptr<HotkeyTap> DictationController::makeTap(const HotkeyBinding& binding,
                                                        HotkeyTap::InterceptWhen when,
                                                        HotkeyTap::OnEvent onEvent,
                                                        bool desktopWide) {
    HotkeyTap::SourceFactory source;
    if (keyboard)
        source = [keyboard = keyboard, binding] { return keyboard(binding); };
    else if (!desktopWide)
        source = [] { return makeSessionKeySource(false); };
    return std::make_unique<HotkeyTap>(binding, std::move(when), std::move(onEvent),
                                       std::move(source));
}

void DictationController::startTaps() {
    const auto weak = weak_from_this();
    const auto dictationKey = [weak](bool polished) {
        return [weak, polished](HotkeyTap::Phase phase, double delay) {
            onMainThreadWith(weak, [phase, delay, polished](DictationController& self) {
                self.hotkeyEvent(phase, delay, polished);
            });
        };
    };
    const auto onPress = [weak](void (DictationController::*action)()) {
        return [weak, action](HotkeyTap::Phase phase, double) {
            if (phase == HotkeyTap::Phase::down)
                onMainThreadWith(weak, [action](DictationController& self) { (self.*action)(); });
        };
    };
    const auto startQuietly = [](std::unique_ptr<HotkeyTap>& tap) {
        try {
            tap->start();
        } catch (const std::exception&) {
            tap.reset();
        }
    };

    tap = makeTap(config.dictationHotkey, {}, dictationKey(false));
    try {
        tap->start();
    } catch (...) {
        tap.reset();
        throw;
    }
    if (config.polishEnabled) {
        polishTap = makeTap(config.polishHotkey, {}, dictationKey(true));
        startQuietly(polishTap);
        rawTap = makeTap(config.rawPasteHotkey, {}, onPress(&DictationController::pasteRaw));
        startQuietly(rawTap);
    }
    escTap = makeTap(
        HotkeyBinding(escKeyCode, 0),
        [flags = flags] {
            std::lock_guard guard(flags->lock);
            return flags->escNow;
        },
        onPress(&DictationController::escapePressed), false);
    startQuietly(escTap);
}

void DictationController::start() {
    stop();
    Journal::shared().note("диктовка: распознаю — " + identity);
    startTaps();
    recorder.warmUp();
    retryTimer = clock->every(retryInterval, [weak = weak_from_this()] {
        if (const auto self = weak.lock())
            self->drainQueue();
    });
    queueLeftovers();
    if (const int pending = pendingCount(); pending > 0)
        show(State::queued(pending));
    prepareRecognizer();
}

void DictationController::prepareRecognizer() {
    DictationWork::recognise([weak = weak_from_this(), transcriber = transcriber,
                              stop = lifetime.get_token()] {
        try {
            transcriber->prepare(stop);
            onMainThreadWith(weak,
                             [](DictationController& self) { self.recognizerError_.reset(); });
        } catch (const std::exception& error) {
            // The first recognition meets the same failure and reports it as usual.
            onMainThreadWith(weak, [reason = std::string(error.what())](DictationController& self) {
                self.recognizerError_ = reason;
                self.note("распознаватель не загрузился: " + reason);
            });
        }
    });
}

void DictationController::queueLeftovers() {
    for (const std::string& path : leftoverRecordings(config.dictationDir)) {
        finishLeftoverHeader(path);
        try {
            queue.enqueue(path);
            Journal::shared().note("диктовка: запись прошлого запуска — в очередь: " +
                                   std::filesystem::path(path).filename().string());
        } catch (const std::exception&) {
            // Stays where it is; the next start tries again.
        }
    }
}

void DictationController::stop() {
    tap.reset();
    polishTap.reset();
    rawTap.reset();
    escTap.reset();
    if (polishTask)
        polishTask->stop.request_stop();
    polishTask.reset();
    retryTimer.reset();
    lingerTimer.reset();
    dropStream();
    if (recorder.isRecording()) {
        recorder.stop();
        setState(State::idle());
    }
}

std::optional<DictationSnapshot> DictationController::liveText() const {
    if (!streamer)
        return std::nullopt;
    DictationSnapshot snapshot = streamer->snapshot();
    if (snapshot.isEmpty())
        return std::nullopt;
    return snapshot;
}

DictationController::TapCounters DictationController::tapCounters() const {
    if (!tap)
        return {};
    const HotkeyTap::Counters counters = tap->counters();
    return {counters.seen, counters.matched, tap->reenables()};
}

bool DictationController::polishReady() const {
    return polishTap && polisher(config)->isAvailable();
}

} // namespace talvoro
