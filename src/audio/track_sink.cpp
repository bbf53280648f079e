#include "audio/track_sink.h"

#include "audio/host_time.h"
#include "audio/sample_converter.h"
#include "audio/wav_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace talvoro {

TrackSink::TrackSink(std::string name, const std::string& url)
    : name(std::move(name)), writer(std::make_unique<WAVWriter>(url, targetRate, 1)) {
    drain = drainQueue.every(std::chrono::milliseconds(100), [this] { flush(); });
}

TrackSink::~TrackSink() {
    close();
}

void TrackSink::append(const AudioBuffer& buffer, std::uint64_t hostTime) {
    std::lock_guard guard(lock);
    if (!firstHostTime)
        firstHostTime = hostTime;
    if (!converter || !inputFormat || !(buffer.format == *inputFormat)) {
        // A new format gets a fresh converter; what the old one held back still belongs
        // to the recording.
        if (converter)
            finishConverterLocked();
        inputFormat = buffer.format;
        try {
            converter = std::make_unique<SampleConverter>(buffer.format);
        } catch (...) {
            converter.reset();
        }
    }
    if (!converter)
        return;
    if (!converter->convert(buffer, converted)) {
        std::lock_guard pendingGuard(pendingLock);
        dropped += std::max<std::int64_t>(buffer.frames, 0);
        return;
    }
    accept(converted, hostTime);
}

void TrackSink::accept(const std::vector<std::int16_t>& samples, std::uint64_t hostTime) {
    if (samples.empty())
        return;
    int loudest = 0;
    for (std::int16_t s : samples)
        loudest = std::max(loudest, std::abs(static_cast<int>(s)));
    peak = std::max(peak, static_cast<float>(std::min(loudest, 32767)) / 32767.0f);

    // The frame at which this buffer should begin by the clock. A clock behind the first
    // buffer gives a negative gap, which changes nothing.
    double since = HostTime::seconds(hostTime) - HostTime::seconds(*firstHostTime);
    auto expected = static_cast<std::int64_t>(since * targetRate);
    std::int64_t gap = expected - acceptedFrames;
    std::int64_t silence = 0;
    if (gap >= gapThreshold) {
        filledFrames += gap;
        acceptedFrames = expected;
        silence = gap;
    }
    acceptedFrames += static_cast<std::int64_t>(samples.size());
    queue(samples, silence);
}

void TrackSink::queue(const std::vector<std::int16_t>& samples, std::int64_t silenceBefore) {
    std::lock_guard pendingGuard(pendingLock);
    pending.insert(pending.end(), static_cast<std::size_t>(silenceBefore), 0);
    pending.insert(pending.end(), samples.begin(), samples.end());
}

void TrackSink::finishConverterLocked() {
    if (converter->finish(converted) && !converted.empty()) {
        acceptedFrames += static_cast<std::int64_t>(converted.size());
        queue(converted, 0);
    }
    converter.reset();
}

float TrackSink::takePeak() {
    std::lock_guard guard(lock);
    float taken = peak;
    peak = 0;
    return taken;
}

std::int64_t TrackSink::writtenSamples() const {
    return writer->sampleCount();
}

double TrackSink::durationSeconds() const {
    return writer->durationSeconds();
}

double TrackSink::filledGapSeconds() const {
    std::lock_guard guard(lock);
    return static_cast<double>(filledFrames) / targetRate;
}

std::int64_t TrackSink::droppedFrames() const {
    std::lock_guard guard(pendingLock);
    return dropped;
}

void TrackSink::flush() {
    // The emptied buffer goes back as the new pending list with its capacity, so in steady
    // state the audio thread appends without allocating.
    writing.clear();
    {
        std::lock_guard guard(pendingLock);
        writing.swap(pending);
    }
    if (writing.empty())
        return;
    const std::int64_t before = writer->sampleCount();
    try {
        writer->write(writing);
    } catch (...) {
    }
    const std::int64_t after = writer->sampleCount();
    written->set(after);
    // Only what did not reach the file is lost, whatever the write said.
    if (const std::int64_t lost = static_cast<std::int64_t>(writing.size()) - (after - before);
        lost > 0) {
        std::lock_guard guard(pendingLock);
        dropped += lost;
    }
}

void TrackSink::close() {
    std::lock_guard closeGuard(closeLock);
    if (closed)
        return;
    closed = true;
    if (drain) {
        drainQueue.cancel(*drain);
        drain.reset();
    }
    drainQueue.sync([] {}); // waits for a flush in progress
    {
        std::lock_guard guard(lock);
        if (converter)
            finishConverterLocked();
    }
    flush();
    writer->close();
}

} // namespace talvoro
