#pragma once

#include "audio/audio_capture.h"
#include "audio/sample_count.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace talvoro {

class TrackSink;

// Records the microphone into a 16 kHz mono 16-bit WAV file, one recording at a time. Used
// from one thread (the controller's); its fields have no lock of their own. Other threads
// follow a recording through its writtenCount().
class DictationRecorder {
public:
    static constexpr double minimumSeconds = 0.3;

    DictationRecorder(); // over the sound server
    explicit DictationRecorder(std::unique_ptr<AudioCapture> engine);
    ~DictationRecorder(); // a recording in progress is stopped and left on disk
    DictationRecorder(const DictationRecorder&) = delete;
    DictationRecorder& operator=(const DictationRecorder&) = delete;

    // Connects to the sound server and looks up the input ahead of the next start.
    void warmUp();
    // Begins recording into the file. Does nothing while recording. Throws CoreAudioError
    // when there is no usable input or the capture does not start, and the file's errors;
    // a failed start leaves no file, no sink and no capture behind.
    void start(const std::string& url);
    // The file, or nothing when not recording or the recording was shorter than
    // minimumSeconds (its file is then deleted).
    std::optional<std::string> stop();

    float level();          // the peak since the previous reading; 0 when idle
    double elapsed() const; // seconds since start; 0 when idle
    // Frames in the file of the current recording, or of the last one after stop().
    std::int64_t writtenSamples() const { return written->value(); }
    // The same count for the recording started last, shared: another thread (the live
    // stream's) may read it while recording and after stop(), even once the recorder is gone.
    std::shared_ptr<const SampleCount> writtenCount() const { return written; }
    const std::optional<std::string>& currentURL() const { return currentURL_; }
    bool isRecording() const { return isRecording_; }

private:
    std::unique_ptr<AudioCapture> engine;
    std::shared_ptr<TrackSink> sink;
    std::optional<std::chrono::steady_clock::time_point> startedAt;
    bool tapInstalled = false;
    std::shared_ptr<const SampleCount> written = std::make_shared<SampleCount>();
    bool isRecording_ = false;
    std::optional<std::string> currentURL_;
};

} // namespace talvoro
