#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace talvoro {

// The byte format of the recordings: a 44-byte RIFF/WAVE header for signed 16-bit
// little-endian PCM, then the samples, interleaved by channel.
namespace WAVFormat {

inline constexpr std::size_t headerBytes = 44;
inline constexpr std::int64_t defaultSampleRate = 16000;
inline constexpr std::int64_t defaultChannels = 1;
inline constexpr std::uint32_t bitsPerSample = 16;
inline constexpr std::uint32_t bytesPerSample = 2;

// Sizes saturate at 0xFFFFFFFF instead of wrapping once a recording passes the 32-bit limit.
// Throws std::invalid_argument for a channel count outside 1…32767 or a sample rate
// outside 1…0xFFFFFFFF.
std::array<std::uint8_t, headerBytes> header(std::int64_t sampleRate, std::int64_t channels,
                                             std::uint64_t dataBytes);

inline std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace WAVFormat

// A failed file-system call, as std::system_error with the current errno:
// "<what> «<path>»: <system text>".
[[noreturn]] void throwFileError(const std::string& what, const std::string& path);
[[noreturn]] void throwFileError(const std::string& what, const std::string& path, int error);

} // namespace talvoro
