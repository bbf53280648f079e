#include "audio/dictation_recorder.h"

#include "audio/core_audio_error.h"
#include "audio/pulse_audio_capture.h"
#include "audio/track_sink.h"

#include <filesystem>

namespace talvoro {

DictationRecorder::DictationRecorder() : DictationRecorder(std::make_unique<PulseAudioCapture>()) {}

DictationRecorder::DictationRecorder(std::unique_ptr<AudioCapture> engine)
    : engine(std::move(engine)) {}

DictationRecorder::~DictationRecorder() {
    if (isRecording_) {
        engine->stop();
        sink->close();
    }
}

void DictationRecorder::warmUp() {
    if (!isRecording_)
        engine->inputStatus();
}

void DictationRecorder::start(const std::string& url) {
    if (isRecording_)
        return;
    if (const InputStatus input = engine->inputStatus(); !input.format.usable())
        throw CoreAudioError::inputUnavailable(input.serverAnswers);
    auto newSink = std::make_shared<TrackSink>("dictation", url);
    try {
        engine->start([newSink](const AudioBuffer& buffer, std::uint64_t hostTime) {
            newSink->append(buffer, hostTime);
        });
    } catch (...) {
        // Undo the attempt whole, so that the next start begins from nothing.
        newSink->close();
        newSink.reset();
        std::error_code ignored;
        std::filesystem::remove(url, ignored);
        throw;
    }
    sink = std::move(newSink);
    tapInstalled = true;
    currentURL_ = url;
    written = sink->writtenCount();
    startedAt = std::chrono::steady_clock::now();
    isRecording_ = true;
}

std::optional<std::string> DictationRecorder::stop() {
    if (!isRecording_ || !sink)
        return std::nullopt;
    isRecording_ = false;
    if (tapInstalled) {
        engine->stop();
        tapInstalled = false;
    }
    sink->close();
    const double duration = sink->durationSeconds();
    sink.reset();
    startedAt.reset();
    if (duration >= minimumSeconds)
        return currentURL_;
    std::error_code ignored;
    if (currentURL_)
        std::filesystem::remove(*currentURL_, ignored);
    return std::nullopt;
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
