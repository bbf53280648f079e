// Any bytes given to WAVReader either are rejected with CoreAudioError or give a reader
// whose data range lies inside the file and reads back in full.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "audio/core_audio_error.h"
#include "audio/wav_reader.h"

namespace {

// One in-memory file for the whole run, rewritten for every input.
const std::string& memoryFile() {
    static const std::string path = [] {
        int fd = ::memfd_create("wav-fuzz", MFD_CLOEXEC);
        if (fd < 0)
            std::abort();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void check(const std::string& path, std::size_t size, bool ignoringDeclaredSize) {
    try {
        talvoro::WAVReader reader(path, ignoringDeclaredSize);
        if (reader.channels < 1 || reader.sampleRate < 1 || reader.sampleCount < 0 ||
            reader.dataOffset + reader.sampleCount * reader.channels * 2 >
                static_cast<std::int64_t>(size))
            std::abort();
        if (reader.samples(0, reader.sampleCount).size() !=
            static_cast<std::size_t>(reader.sampleCount))
            std::abort();
        const std::int64_t n = reader.sampleCount;
        if (reader.samples(n / 3, n + 5).size() != static_cast<std::size_t>(n - n / 3))
            std::abort();
        if (!reader.samples(-7, -1).empty() || !reader.samples(n, n + 1).empty())
            std::abort();
        (void)reader.durationSeconds();
    } catch (const talvoro::CoreAudioError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = memoryFile();
    const int fd = std::atoi(path.c_str() + 14);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    check(path, size, false);
    check(path, size, true);
    return 0;
}
