#include "audio/wav_format.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace talvoro {

namespace {

void putU16(std::uint8_t* p, std::uint32_t v) {
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}

void putU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = (v >> (8 * i)) & 0xFF;
}

void putId(std::uint8_t* p, const char* id) {
    std::copy(id, id + 4, p);
}

} // namespace

std::array<std::uint8_t, WAVFormat::headerBytes>
WAVFormat::header(std::int64_t sampleRate, std::int64_t channels, std::uint64_t dataBytes) {
    if (channels < 1 || channels * 2 > 0xFFFF)
        throw std::invalid_argument("WAV header: channel count " + std::to_string(channels));
    if (sampleRate < 1 || sampleRate > 0xFFFFFFFFLL)
        throw std::invalid_argument("WAV header: sample rate " + std::to_string(sampleRate));
    constexpr std::uint64_t limit = 0xFFFFFFFFULL;
    const auto rate = static_cast<std::uint64_t>(sampleRate);
    const auto chans = static_cast<std::uint64_t>(channels);

    std::array<std::uint8_t, headerBytes> h{};
    putId(&h[0], "RIFF");
    putU32(&h[4], static_cast<std::uint32_t>(std::min(dataBytes, limit - 36) + 36));
    putId(&h[8], "WAVE");
    putId(&h[12], "fmt ");
    putU32(&h[16], 16);
    putU16(&h[20], 1);
    putU16(&h[22], static_cast<std::uint32_t>(chans));
    putU32(&h[24], static_cast<std::uint32_t>(rate));
    putU32(&h[28], static_cast<std::uint32_t>(std::min(rate * chans * bytesPerSample, limit)));
    putU16(&h[32], static_cast<std::uint32_t>(chans * bytesPerSample));
    putU16(&h[34], bitsPerSample);
    putId(&h[36], "data");
    putU32(&h[40], static_cast<std::uint32_t>(std::min(dataBytes, limit)));
    return h;
}

void throwFileError(const std::string& what, const std::string& path) {
    throwFileError(what, path, errno);
}

void throwFileError(const std::string& what, const std::string& path, int error) {
    throw std::system_error(error, std::generic_category(), what + " «" + path + "»");
}

} // namespace talvoro
