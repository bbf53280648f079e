#include "audio/wav_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/core_audio_error.h"
#include "audio/wav_format.h"

namespace talvoro {

struct WAVReader::File {
    int fd;
    explicit File(int fd) : fd(fd) {}
    ~File() { ::close(fd); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};

namespace {

// Reads up to size bytes at offset; fewer only at the end of the file or on an error.
std::size_t readAt(int fd, void* out, std::size_t size, std::uint64_t offset) {
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// Serves the small reads of the chunk walk from one cached block, so a file of many
// tiny chunks costs a system call per block rather than per chunk. A read that comes up
// short means the file shrank: the known length is cut to what is still there.
class ChunkCursor {
public:
    ChunkCursor(int fd, std::uint64_t length) : fd(fd), length(length) {}

    std::uint64_t fileLength() const { return length; }

    bool read(std::uint64_t offset, std::size_t size, std::uint8_t* out) {
        if (offset + size > length)
            return false;
        if (offset < blockStart || offset + size > blockStart + blockSize) {
            blockStart = offset;
            std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - offset));
            blockSize = readAt(fd, block.data(), wanted, offset);
            if (blockSize < wanted)
                length = offset + blockSize;
            if (blockSize < size)
                return false;
        }
        std::memcpy(out, block.data() + (offset - blockStart), size);
        return true;
    }

private:
    int fd;
    std::uint64_t length;
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(64 * 1024);
    std::uint64_t blockStart = 0;
    std::size_t blockSize = 0;
};

bool isId(const std::uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

} // namespace

WAVReader::WAVReader(const std::string& url_, bool ignoringDeclaredSize) : url(url_) {
    const std::string name = std::filesystem::path(url).filename().string();
    // O_NONBLOCK keeps a FIFO at the path from stalling the open.
    int fd = ::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throwFileError("не удалось открыть", url);
    auto file = std::make_shared<const File>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throwFileError("не удалось прочитать", url);
    if (!S_ISREG(info.st_mode))
        throwFileError("не удалось прочитать", url, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);

    ChunkCursor cursor(fd, static_cast<std::uint64_t>(info.st_size));
    std::uint8_t riff[12];
    if (cursor.fileLength() < WAVFormat::headerBytes || !cursor.read(0, sizeof riff, riff) ||
        !isId(riff, "RIFF") || !isId(riff + 8, "WAVE"))
        throw CoreAudioError::message(name + ": не WAV");

    std::uint32_t bits = 0;
    bool haveData = false;
    std::uint64_t start = 0, end = 0;
    std::uint64_t offset = 12;
    while (offset + 8 <= cursor.fileLength()) {
        std::uint8_t chunk[8];
        if (!cursor.read(offset, sizeof chunk, chunk))
            break;
        const std::uint64_t size = WAVFormat::readU32(chunk + 4);
        const std::uint64_t body = offset + 8;
        if (isId(chunk, "fmt ") && size >= 16) {
            std::uint8_t fmt[16];
            if (cursor.read(body, sizeof fmt, fmt)) {
                channels = WAVFormat::readU16(fmt + 2);
                sampleRate = WAVFormat::readU32(fmt + 4);
                bits = WAVFormat::readU16(fmt + 14);
            }
        } else if (isId(chunk, "data")) {
            haveData = true;
            start = body;
            end = (size == 0 || ignoringDeclaredSize) ? cursor.fileLength()
                                                      : std::min(cursor.fileLength(), body + size);
            break;
        }
        if (size == 0)
            break;
        offset = body + size + (size & 1);
    }
    if (!haveData || sampleRate < 1 || channels < 1 || bits != WAVFormat::bitsPerSample)
        throw CoreAudioError::message(name + ": ожидался PCM16, получено " + std::to_string(bits) +
                                      " бит");

    dataOffset = static_cast<std::int64_t>(start);
    const std::uint64_t dataBytes = end > start ? end - start : 0;
    sampleCount = static_cast<std::int64_t>(dataBytes / WAVFormat::bytesPerSample) / channels;
    data = std::move(file);
}

double WAVReader::durationSeconds() const {
    return static_cast<double>(sampleCount) / static_cast<double>(sampleRate);
}

std::vector<float> WAVReader::samples(std::int64_t from, std::int64_t to) const {
    const std::int64_t start = std::clamp<std::int64_t>(from, 0, sampleCount);
    const std::int64_t end = std::min(to, sampleCount);
    if (end <= start)
        return {};

    const auto stride = static_cast<std::size_t>(channels); // 16-bit values per frame
    // Whole frames per block; a block of one frame reads just its first sample.
    const std::size_t framesPerBlock = std::max<std::size_t>(1, (128 * 1024) / stride);
    std::vector<std::int16_t> block(
        (std::min<std::size_t>(framesPerBlock, static_cast<std::size_t>(end - start)) - 1) *
            stride +
        1);
    std::vector<float> result(static_cast<std::size_t>(end - start));
    std::size_t done = 0;
    while (done < result.size()) {
        const std::size_t count = std::min(framesPerBlock, result.size() - done);
        const std::size_t wanted = ((count - 1) * stride + 1) * 2;
        const std::uint64_t offset = static_cast<std::uint64_t>(dataOffset) +
                                     (static_cast<std::uint64_t>(start) + done) * stride * 2;
        const std::size_t got = readAt(data->fd, block.data(), wanted, offset);
        const std::size_t whole = got < 2 ? 0 : (got / 2 - 1) / stride + 1;
        if constexpr (std::endian::native != std::endian::little)
            for (auto& v : block)
                v = static_cast<std::int16_t>(
                    WAVFormat::readU16(reinterpret_cast<const std::uint8_t*>(&v)));
        float* out = result.data() + done;
        const std::int16_t* in = block.data();
        if (stride == 1)
            for (std::size_t i = 0; i < whole; ++i)
                out[i] = static_cast<float>(in[i]) * (1.0f / 32768.0f);
        else
            for (std::size_t i = 0; i < whole; ++i)
                out[i] = static_cast<float>(in[i * stride]) * (1.0f / 32768.0f);
        done += whole;
        if (whole < count) {
            result.resize(done); // the file ended early: it shrank after the reader was made
            break;
        }
    }
    return result;
}

} // namespace talvoro
