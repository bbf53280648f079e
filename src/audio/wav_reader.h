#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvoro {

// A snapshot of one WAV file of signed 16-bit PCM, tolerant of stale or unfinished
// headers. The file stays open and nothing is copied when the reader is made: samples()
// reads just the frames asked for with pread, so a file that shrinks or is cut short
// meanwhile yields fewer samples instead of a fault.
class WAVReader {
public:
    // Reads and checks the header and the chunk layout. With ignoringDeclaredSize the data
    // run to the end of the file whatever the header says (a file still being written).
    // A file that is not WAV, or not 16-bit PCM, throws CoreAudioError; file-system
    // failures throw std::system_error.
    explicit WAVReader(const std::string& url, bool ignoringDeclaredSize = false);

    double durationSeconds() const;

    // The first channel of the frames in [from, to), clamped to the file, each sample as
    // value / 32768. Frames no longer in the file (it shrank) are left out of the result.
    std::vector<float> samples(std::int64_t from, std::int64_t to) const;

    std::string url;
    std::int64_t sampleRate = 0;
    std::int64_t channels = 0;
    std::int64_t sampleCount = 0; // frames in the data range
    std::int64_t dataOffset = 0;  // file offset of the first sample

private:
    struct File;
    std::shared_ptr<const File> data;
};

} // namespace talvoro
