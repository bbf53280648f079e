#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "audio/wav_format.h"

namespace talvoro {

// Streams signed 16-bit PCM to a WAV file that stays readable at every moment: the header
// is rewritten after each second of audio, so a file cut off by a crash still declares all
// but at most its last second, and close() makes it exact. Appends come from one thread;
// the length may be read and close() called from any other.
class WAVWriter {
public:
    // Creates the parent folders (owner-only), replaces any file at the path with a new one
    // readable by the owner alone, and writes the header of an empty recording. File-system
    // failures throw std::system_error.
    explicit WAVWriter(std::string url, std::int64_t sampleRate = WAVFormat::defaultSampleRate,
                       std::int64_t channels = WAVFormat::defaultChannels);
    ~WAVWriter();
    WAVWriter(const WAVWriter&) = delete;
    WAVWriter& operator=(const WAVWriter&) = delete;

    // Appends samples (interleaved when there are several channels) in one write. After
    // close() they are dropped silently. A failed write throws and counts nothing; once the
    // samples are written it does not throw, even when the header could not be rewritten.
    void write(std::span<const std::int16_t> samples);
    // Finishes the header and closes the file; never throws; later calls do nothing.
    void close() noexcept;

    double durationSeconds() const;
    std::int64_t sampleCount() const; // frames written so far

    const std::string url;
    const std::int64_t sampleRate;
    const std::int64_t channels;

private:
    bool patchHeaderLocked(); // false when the header could not be written

    const std::uint64_t headerPatchEvery; // one second of audio in bytes
    mutable std::mutex lock;
    int handle = -1;                         // guarded by lock
    std::uint64_t dataBytes = 0;             // guarded by lock
    std::uint64_t bytesSinceHeaderPatch = 0; // guarded by lock
    bool closed = false;                     // guarded by lock
};

} // namespace talvoro
