#pragma once

#include "audio/audio_capture.h"
#include "audio/sample_count.h"
#include "base/serial_queue.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talvoro {

class TrackSink;

// Records the microphone into a 16 kHz mono 16-bit WAV file, one recording at a time. Used
// from the main thread; its fields have no lock of their own. Other threads follow a recording
// through its writtenCount(). The capture is started, stopped and warmed up on the thread
// "ostrel.mic", so that a sound server that is slow to answer never holds the main thread;
// what comes of it is told back on the main thread.
class DictationRecorder {
public:
    static constexpr double minimumSeconds = 0.3;
    using OnProblem = std::function<void(const std::string& reason)>;

    DictationRecorder(); // over the sound server
    explicit DictationRecorder(std::unique_ptr<AudioCapture> engine);
    ~DictationRecorder(); // a recording in progress is stopped and left on disk
    DictationRecorder(const DictationRecorder&) = delete;
    DictationRecorder& operator=(const DictationRecorder&) = delete;

    // About the recording in progress, on the main thread. The capture did not start: the
    // recording is over and its file gone.
    OnProblem onStartFailed;
    // The sound server or the source went away: nothing more is captured; the recording stays
    // until stop().
    OnProblem onLost;

    // Connects to the sound server and looks up the input ahead of the next start.
    void warmUp();
    // Begins recording into the file and returns; the capture starts on its own thread. Does
    // nothing while recording. Throws the file's errors, leaving nothing behind.
    void start(const std::string& url);
    // The file, or nothing when not recording or the recording was shorter than
    // minimumSeconds (its file is then deleted). Does not wait for the sound server.
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
    struct Gate;
    using Report = void (DictationRecorder::*)(const std::shared_ptr<Gate>&, const std::string&);

    void startFailed(const std::shared_ptr<Gate>& gate, const std::string& reason);
    void lost(const std::shared_ptr<Gate>& gate, const std::string& reason);
    double finish(); // ends the recording; the seconds in its file

    const std::unique_ptr<AudioCapture> engine;
    std::shared_ptr<TrackSink> sink;
    std::shared_ptr<Gate> gate; // the current recording's way from the audio thread to the sink
    std::optional<std::chrono::steady_clock::time_point> startedAt;
    std::shared_ptr<const SampleCount> written = std::make_shared<SampleCount>();
    bool isRecording_ = false;
    std::optional<std::string> currentURL_;
    // Held weakly by what comes back from the other threads.
    const std::shared_ptr<DictationRecorder*> alive = std::make_shared<DictationRecorder*>(this);
    // Last, so that it has run its tasks before the capture goes.
    SerialQueue control{"ostrel.mic"};
};

} // namespace talvoro
