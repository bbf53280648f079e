#include "audio/wav_writer.h"

#include <bit>
#include <cerrno>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/paths.h"

namespace talvoro {

namespace {

// Writes all bytes at offset, resuming after partial writes and interruptions.
bool writeAll(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

} // namespace

WAVWriter::WAVWriter(std::string url_, std::int64_t sampleRate_, std::int64_t channels_)
    : url(std::move(url_)), sampleRate(sampleRate_), channels(channels_),
      headerPatchEvery(static_cast<std::uint64_t>(sampleRate_ * channels_) *
                       WAVFormat::bytesPerSample) {
    const auto header = WAVFormat::header(sampleRate, channels, 0); // checks the format first

    const std::filesystem::path path(url);
    if (path.has_parent_path() && !makePrivateFolder(path.parent_path().string()))
        throwFileError("не удалось создать папку", path.parent_path().string());
    if (::unlink(url.c_str()) != 0 && errno != ENOENT)
        throwFileError("не удалось заменить файл", url);
    handle = ::open(url.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (handle < 0)
        throwFileError("не удалось создать файл", url);
    if (::fchmod(handle, 0600) != 0 || !writeAll(handle, header.data(), header.size(), 0)) {
        int error = errno;
        ::close(handle);
        handle = -1;
        throwFileError("не удалось записать заголовок", url, error);
    }
}

WAVWriter::~WAVWriter() {
    close();
}

void WAVWriter::write(std::span<const std::int16_t> samples) {
    if (samples.empty())
        return;
    std::lock_guard guard(lock);
    if (closed)
        return;
    const std::size_t byteCount = samples.size() * WAVFormat::bytesPerSample;
    const std::uint64_t offset = WAVFormat::headerBytes + dataBytes;
    bool written;
    if constexpr (std::endian::native == std::endian::little) {
        written = writeAll(handle, samples.data(), byteCount, offset);
    } else {
        std::vector<std::uint8_t> bytes(byteCount);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            auto v = static_cast<std::uint16_t>(samples[i]);
            bytes[2 * i] = v & 0xFF;
            bytes[2 * i + 1] = v >> 8;
        }
        written = writeAll(handle, bytes.data(), byteCount, offset);
    }
    if (!written) {
        int error = errno;
        // Drop a partly written buffer so the file keeps whole samples only.
        (void)::ftruncate(handle, static_cast<off_t>(offset));
        throwFileError("не удалось дописать запись", url, error);
    }
    dataBytes += byteCount;
    bytesSinceHeaderPatch += byteCount;
    if (bytesSinceHeaderPatch >= headerPatchEvery) {
        // The samples are in the file and counted; a header that could not be rewritten now
        // is tried again with the next write and at close, and readers tolerate a stale one.
        if (patchHeaderLocked())
            bytesSinceHeaderPatch = 0;
    }
}

bool WAVWriter::patchHeaderLocked() {
    // Appends go to explicit offsets, so rewriting the header needs no seeking.
    const auto header = WAVFormat::header(sampleRate, channels, dataBytes);
    return writeAll(handle, header.data(), header.size(), 0);
}

void WAVWriter::close() noexcept {
    std::lock_guard guard(lock);
    if (closed)
        return;
    closed = true;
    // A header that cannot be rewritten stays as of the last patch; the reader tolerates it.
    (void)patchHeaderLocked();
    ::close(handle);
    handle = -1;
}

double WAVWriter::durationSeconds() const {
    std::lock_guard guard(lock);
    return static_cast<double>(dataBytes) /
           static_cast<double>(sampleRate * channels * WAVFormat::bytesPerSample);
}

std::int64_t WAVWriter::sampleCount() const {
    std::lock_guard guard(lock);
    return static_cast<std::int64_t>(
        dataBytes / (static_cast<std::uint64_t>(channels) * WAVFormat::bytesPerSample));
}

} // namespace talvoro
