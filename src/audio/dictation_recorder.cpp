#include "audio/dictation_recorder.h"

#include "audio/core_audio_error.h"
#include "audio/pulse_audio_capture.h"
#include "audio/track_sink.h"
#include "base/main_thread.h"

#include <filesystem>
#include <mutex>

namespace talvoro {

struct DictationRecorder::Gate {
    std::mutex lock;
    std::shared_ptr<TrackSink> sink; // guarded by lock; none once the recording is over

    explicit Gate(std::shared_ptr<TrackSink> sink) : sink(std::move(sink)) {}
    bool open() {
        std::lock_guard guard(lock);
        return sink != nullptr;
    }
    // Waits for a buffer being appended; none is appended afterwards.
    void close() {
        std::lock_guard guard(lock);
        sink.reset();
    }
    void append(const AudioBuffer& buffer, std::uint64_t hostTime) {
        std::lock_guard guard(lock);
        if (sink)
            sink->append(buffer, hostTime);
    }
};

DictationRecorder::DictationRecorder() : DictationRecorder(std::make_unique<PulseAudioCapture>()) {}

DictationRecorder::DictationRecorder(std::unique_ptr<AudioCapture> engine)
    : engine(std::move(engine)) {}

DictationRecorder::~DictationRecorder() {
    if (isRecording_) {
        gate->close();
        control.async([engine = engine.get()] { engine->stop(); });
        sink->close();
    }
}

void DictationRecorder::warmUp() {
    if (!isRecording_)
        control.async([engine = engine.get()] { engine->inputStatus(); });
}

void DictationRecorder::start(const std::string& url) {
    if (isRecording_)
        return;
    auto newSink = std::make_shared<TrackSink>("dictation", url);
    sink = newSink;
    gate = std::make_shared<Gate>(newSink);
    currentURL_ = url;
    written = sink->writtenCount();
    startedAt = std::chrono::steady_clock::now();
    isRecording_ = true;
    const std::weak_ptr<DictationRecorder*> weak = alive;
    control.async([engine = engine.get(), gate = gate, weak] {
        if (!gate->open())
            return; // stopped before its turn came
        // What comes of the capture goes back to the main thread, for this recording only.
        const auto back = [weak, gate](Report then) {
            return [weak, gate, then](const std::string& reason) {
                onMainThread([weak, gate, then, reason] {
                    if (const auto self = weak.lock())
                        ((*self)->*then)(gate, reason);
                });
            };
        };
        try {
            if (const InputStatus input = engine->inputStatus(); !input.format.usable())
                throw CoreAudioError::inputUnavailable(input.serverAnswers);
            engine->setLostHandler(back(&DictationRecorder::lost));
            engine->start([gate](const AudioBuffer& buffer, std::uint64_t hostTime) {
                gate->append(buffer, hostTime);
            });
        } catch (const std::exception& error) {
            const auto failed = back(&DictationRecorder::startFailed);
            failed(error.what());
        }
    });
}

void DictationRecorder::startFailed(const std::shared_ptr<Gate>& failed,
                                    const std::string& reason) {
    if (failed != gate || !isRecording_)
        return;
    finish();
    std::error_code ignored;
    if (currentURL_)
        std::filesystem::remove(*currentURL_, ignored);
    if (onStartFailed)
        onStartFailed(reason);
}

void DictationRecorder::lost(const std::shared_ptr<Gate>& failed, const std::string& reason) {
    if (failed == gate && isRecording_ && onLost)
        onLost(reason);
}

std::optional<std::string> DictationRecorder::stop() {
    if (!isRecording_ || !sink)
        return std::nullopt;
    if (finish() >= minimumSeconds)
        return currentURL_;
    std::error_code ignored;
    if (currentURL_)
        std::filesystem::remove(*currentURL_, ignored);
    return std::nullopt;
}

double DictationRecorder::finish() {
    isRecording_ = false;
    gate->close();
    control.async([engine = engine.get()] { engine->stop(); });
    sink->close();
    const double duration = sink->durationSeconds();
    sink.reset();
    startedAt.reset();
    return duration;
}

float DictationRecorder::level() {
    return sink ? sink->takePeak() : 0.0f;
}

double DictationRecorder::elapsed() const {
    if (!isRecording_ || !startedAt)
        return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - *startedAt).count();
}

} // namespace talvoro
