#pragma once

#include "audio/audio_capture.h"
#include "audio/sample_count.h"
#include "base/serial_queue.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace talvoro {

class SampleConverter;
class WAVWriter;

// Receives captured buffers on the audio thread, converts them to 16 kHz mono 16-bit,
// measures the peak, fills clock gaps with silence and queues the samples; the serial
// queue "ostrel.track-writer" writes the queue to the file every 0.1 s, so the audio thread
// never touches the disk and the live recogniser hears the end of a phrase soon after it. Lock
// order: lock before pendingLock; pendingLock is never held while the writer's lock is taken.
class TrackSink {
public:
    static constexpr int targetRate = 16000;
    static constexpr std::int64_t gapThreshold = 4000; // output frames, 0.25 s

    // Creates the file (the writer's errors are thrown) and starts the drain timer.
    TrackSink(std::string name, const std::string& url);
    ~TrackSink(); // closes
    TrackSink(const TrackSink&) = delete;
    TrackSink& operator=(const TrackSink&) = delete;

    // On the audio thread, for every captured buffer; hostTime is its first frame's.
    void append(const AudioBuffer& buffer, std::uint64_t hostTime);
    // The highest absolute level (0…1) since the previous call.
    float takePeak();
    std::int64_t writtenSamples() const;
    // The same count, shared: it stays readable, from any thread, after the sink is gone.
    std::shared_ptr<const SampleCount> writtenCount() const { return written; }
    double durationSeconds() const; // of what is in the file
    double filledGapSeconds() const;
    std::int64_t droppedFrames() const;
    // Stops draining, writes what is left (including the converter's tail) and finishes the
    // file. No append may run during or after it. Later calls do nothing.
    void close();

    const std::string name;

private:
    void flush();
    void accept(const std::vector<std::int16_t>& samples, std::uint64_t hostTime);
    void queue(const std::vector<std::int16_t>& samples, std::int64_t silenceBefore);
    void finishConverterLocked();

    std::unique_ptr<WAVWriter> writer;
    const std::shared_ptr<SampleCount> written = std::make_shared<SampleCount>();

    mutable std::mutex lock;
    std::optional<std::uint64_t> firstHostTime; // guarded by lock
    float peak = 0;                             // guarded by lock
    std::int64_t filledFrames = 0;              // guarded by lock
    std::int64_t acceptedFrames = 0;            // guarded by lock
    std::unique_ptr<SampleConverter> converter; // guarded by lock
    std::optional<AudioFormat> inputFormat;     // guarded by lock
    std::vector<std::int16_t> converted;        // guarded by lock; reused between buffers

    mutable std::mutex pendingLock;
    std::vector<std::int16_t> pending; // guarded by pendingLock
    std::int64_t dropped = 0;          // guarded by pendingLock
    // Used only by flush, which runs on the drain queue or, once it is idle, in close.
    std::vector<std::int16_t> writing;

    std::mutex closeLock;
    bool closed = false;                       // guarded by closeLock
    std::optional<SerialQueue::TimerId> drain; // guarded by closeLock

    // Last, so that it stops before the fields its timer uses go away.
    SerialQueue drainQueue{"ostrel.track-writer"};
};

} // namespace talvoro
