// The recording half of the dictation controller: keys, the recorder and the live stream.
#include "dictation/dictation_controller.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>

#include "base/journal.h"
#include "base/paths.h"
#include "dictation/dictation_work.h"
#include "dictation/local_stamp.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/local_dictation_stream.h"

namespace fs = std::filesystem;

namespace talvoro {

struct DictationController::StreamGone {
    std::mutex lock;
    std::condition_variable changed;
    bool gone = false; // guarded by lock: the stream has been destroyed
};

void DictationController::hotkeyEvent(HotkeyTap::Phase phase, double delay, bool polished) {
    if (phase == HotkeyTap::Phase::up) {
        hotkeyReleased();
        return;
    }
    if (log) {
        char line[96];
        std::snprintf(line, sizeof line,
                      polished ? "хоткей правки (задержка %.0f мс)" : "хоткей (задержка %.0f мс)",
                      delay * 1000);
        note(line);
    }
    toggle(polished);
}

void DictationController::toggle(bool polished) {
    using Kind = State::Kind;
    switch (state_.kind) {
    case Kind::recording:
        pressStartedRecording = false;
        finishRecording();
        return;
    case Kind::transcribing:
    case Kind::polishing:
        if (!draining) {
            note("идёт распознавание — нажатие пропущено");
            return;
        }
        yieldRetry(); // a retry of the queue runs in the background: the user comes first
        [[fallthrough]];
    case Kind::idle:
    case Kind::inserted:
    case Kind::inClipboard:
    case Kind::queued:
    case Kind::failed:
        polishMode = polished && config.polishEnabled;
        beginRecording();
        pressStartedRecording = state_.is(Kind::recording);
        pressAt = clock->uptime();
        return;
    case Kind::nowhere:
        note("хоткей во время «некуда» — вставляю последнюю");
        paste(lastInserted_);
        return;
    }
}

void DictationController::desktopTap() {
    const double now = clock->uptime();
    const bool repeat = lastTapAt && now - *lastTapAt < tapRepeatGap;
    lastTapAt = now;
    if (repeat)
        return note("команда повторилась, пока держат клавишу — пропущена");
    toggle(false);
}

void DictationController::hotkeyReleased() {
    const bool held = pressStartedRecording && state_.is(State::Kind::recording) && pressAt &&
                      clock->uptime() - *pressAt >= holdThreshold;
    pressStartedRecording = false;
    if (held) {
        note("push-to-talk: отпущено");
        finishRecording();
    }
}

void DictationController::escapePressed() {
    if (state_.is(State::Kind::recording)) {
        cancelRecording();
    } else if (state_.is(State::Kind::polishing) && polishTask) {
        polishTask->stop.request_stop();
        finishPolish(PolishOutcome{std::nullopt, "отменено — вставил как сказано", 0},
                     polishTask->id);
    }
}

void DictationController::beginRecording() {
    lingerTimer.reset();
    blocked = false;
    microphoneLost_.reset();
    // The focus reporting wakes up on the insertion thread: it may wait on applications.
    DictationWork::insert([seams = insertion] {
        Paster::wakeFocusReporting(seams ? *seams : systemInsertionSeams());
    });
    const std::string url = newRecordingURL();
    try {
        recorder.start(url); // the capture starts on its own thread; a failure comes back
    } catch (const std::exception& error) {
        show(State::failed(error.what()));
        return;
    }
    startStreaming(url);
    setState(State::recording());
}

void DictationController::captureFailed(const std::string& reason) {
    if (!state_.is(State::Kind::recording))
        return;
    polishMode = false;
    pressStartedRecording = false;
    show(State::failed(reason));
}

// What was captured up to the loss is delivered as after a stop.
void DictationController::microphoneLostNow(const std::string& reason) {
    if (!state_.is(State::Kind::recording))
        return;
    microphoneLost_ = reason;
    note("микрофон пропал: " + reason);
    Journal::shared().note("диктовка: микрофон пропал — " + reason + "; записанное распознаю");
    pressStartedRecording = false;
    finishRecording();
}

std::string DictationController::newRecordingURL() {
    makePrivateFolder(config.dictationDir);
    const std::string stamp = LocalStamp::fileName(clock->now());
    std::string name = stamp + ".wav";
    std::error_code error;
    for (int n = 2; fs::exists(fs::symlink_status(config.dictationDir + "/" + name, error)); ++n)
        name = stamp + "-" + std::to_string(n) + ".wav";
    return config.dictationDir + "/" + name;
}

void DictationController::startStreaming(const std::string& url) {
    if (DictationEngineStore::current(config) != DictationEngine::local)
        return; // a server stream: never in this build
    const auto engine = std::dynamic_pointer_cast<LocalDictationStream::Engine>(transcriber);
    if (!engine)
        return;
    // The stream's thread reads the recording's own count, never the recorder.
    auto gone = std::make_shared<StreamGone>();
    std::shared_ptr<LocalDictationStream> stream(
        new LocalDictationStream(engine, url,
                                 [count = recorder.writtenCount()] { return count->value(); }),
        [gone](LocalDictationStream* ended) {
            delete ended;
            std::lock_guard guard(gone->lock);
            gone->gone = true;
            gone->changed.notify_all();
        });
    stream->log = [weak = weak_from_this()](const std::string& line) {
        onMainThreadWith(weak, [line](DictationController& self) { self.note(line); });
    };
    streamer = stream;
    streamerGone = gone;
    stream->start();
}

void DictationController::dropStream() {
    if (!streamer)
        return;
    streamer->cancel();
    // A live pass in flight holds the stream until it has stopped. A worker waits for that, so
    // that a quit right now waits too: a pass still inside the runtime at exit would crash.
    DictationWork::recognise(
        [stream = std::move(streamer), gone = std::move(streamerGone)]() mutable {
            stream.reset();
            std::unique_lock guard(gone->lock);
            gone->changed.wait_for(guard, std::chrono::seconds(10), [&] { return gone->gone; });
        });
}

void DictationController::cancelRecording() {
    if (!state_.is(State::Kind::recording))
        return;
    polishMode = false;
    pressStartedRecording = false;
    dropStream();
    if (const std::optional<std::string> file = recorder.stop()) {
        std::error_code ignored;
        fs::remove(*file, ignored);
    }
    recorder.warmUp();
    note("отменено");
    setState(State::idle());
}

void DictationController::finishRecording() {
    const std::optional<std::string> url = recorder.stop();
    if (!url) {
        dropStream();
        recorder.warmUp();
        show(State::failed(microphoneLost_ ? "микрофон пропал" : "слишком коротко"));
        return;
    }
    recorder.warmUp();
    note("записано " + fs::path(*url).filename().string());
    setState(State::transcribing());
    if (streamer)
        finishStream(*url);
    else
        deliver(*url, false);
}

} // namespace talvoro
