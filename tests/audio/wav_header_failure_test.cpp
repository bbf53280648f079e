// A disk that takes the samples but refuses to rewrite the header: this test program puts
// its own pwrite in front of the C library's, so only it sees the refusals.
#include "audio/track_sink.h"
#include "audio/wav_format.h"
#include "audio/wav_writer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <unistd.h>

namespace {

std::atomic<bool> refuseHeader{false};

template <typename Write>
ssize_t headerRefusing(const char* name, int fd, const void* data, size_t size, off_t offset) {
    if (refuseHeader && offset == 0) {
        errno = EIO;
        return -1;
    }
    static const auto real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, name));
    return real(fd, data, size, offset);
}

} // namespace

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    return headerRefusing<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite", fd, data, size,
                                                                        offset);
}
extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
    return headerRefusing<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64", fd, data, size,
                                                                        offset);
}

namespace talvoro {
namespace {

std::uint32_t declaredBytes(const std::string& path) {
    const std::string bytes = testing::readFile(path);
    return WAVFormat::readU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 40);
}

struct Refusing {
    Refusing() { refuseHeader = true; }
    ~Refusing() { refuseHeader = false; }
};

TEST(WAVHeaderFailure, SamplesWrittenBeforeAFailedHeaderCountAndTheHeaderIsMendedLater) {
    testing::TempDir dir;
    const std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    {
        Refusing refusing;
        EXPECT_NO_THROW(writer.write(std::vector<std::int16_t>(24000, 3)));
        EXPECT_EQ(writer.sampleCount(), 24000);
        EXPECT_EQ(declaredBytes(path), 0u);
    }
    writer.write(std::vector<std::int16_t>(100, 4)); // the next write patches the header
    EXPECT_EQ(declaredBytes(path), 48200u);
}

TEST(WAVHeaderFailure, TheSinkCountsNothingAsLostWhenOnlyTheHeaderFails) {
    testing::TempDir dir;
    TrackSink sink("dictation", dir / "rec.wav");
    const std::vector<std::int16_t> samples(40000, 5); // 2.5 s: two header patches due
    Refusing refusing;
    sink.append(AudioBuffer{AudioFormat{16000, 1, SampleType::int16}, samples.data(), 40000}, 0);
    sink.close();
    EXPECT_EQ(sink.droppedFrames(), 0);
    EXPECT_EQ(sink.writtenSamples(), 40000);
    EXPECT_EQ(sink.writtenCount()->value(), 40000);
}

} // namespace
} // namespace talvoro
