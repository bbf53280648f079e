// This program puts its own pwrite in front of the C library's, so that a test can have the
// disk take the samples but refuse to rewrite the header.
#include "audio/wav_writer.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "audio/track_sink.h"
#include "audio/wav_format.h"
#include "support/temp_dir.h"

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

using testing::TempDir;

std::uint32_t u32At(const std::string& bytes, std::size_t offset) {
    return WAVFormat::readU32(reinterpret_cast<const std::uint8_t*>(bytes.data() + offset));
}
std::int16_t sampleAt(const std::string& bytes, std::size_t offset) {
    return static_cast<std::int16_t>(
        WAVFormat::readU16(reinterpret_cast<const std::uint8_t*>(bytes.data() + offset)));
}

TEST(WAVWriter, NewFileIsAnEmptyRecordingReadableByTheOwnerOnly) {
    TempDir dir;
    std::string path = dir / "a/b/rec.wav";
    WAVWriter writer(path);
    std::string bytes = testing::readFile(path);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(u32At(bytes, 4), 36u);
    EXPECT_EQ(u32At(bytes, 40), 0u);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    std::string old = dir.write("old.wav", std::string(1000, 'x'));
    ::chmod(old.c_str(), 0644);
    WAVWriter replacing(old);
    EXPECT_EQ(std::filesystem::file_size(old), 44u);
    ASSERT_EQ(::stat(old.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(WAVWriter, PatchesTheHeaderOncePerSecondAndExactlyOnClose) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    std::vector<std::int16_t> buffer(3200, 7);
    std::vector<std::uint32_t> declared;
    for (int i = 0; i < 8; ++i) {
        writer.write(buffer);
        declared.push_back(u32At(testing::readFile(path), 40));
    }
    EXPECT_EQ(declared, (std::vector<std::uint32_t>{0, 0, 0, 0, 32000, 32000, 32000, 32000}));
    std::string bytes = testing::readFile(path);
    EXPECT_EQ(bytes.size(), 44u + 51200u);
    EXPECT_EQ(u32At(bytes, 4), 32036u);
    EXPECT_EQ(writer.sampleCount(), 25600);
    EXPECT_DOUBLE_EQ(writer.durationSeconds(), 1.6);

    writer.write(std::span<const std::int16_t>{});
    writer.close();
    bytes = testing::readFile(path);
    EXPECT_EQ(u32At(bytes, 40), 51200u);
    EXPECT_EQ(u32At(bytes, 4), 51236u);
    EXPECT_EQ(sampleAt(bytes, 44), 7);
    // Nothing changes after close.
    writer.write(std::vector<std::int16_t>(40000, 1));
    writer.close();
    EXPECT_EQ(testing::readFile(path), bytes);
    EXPECT_EQ(writer.sampleCount(), 25600);
}

TEST(WAVWriter, HeaderSizesSaturateInsteadOfWrapping) {
    auto h = WAVFormat::header(16000, 1, 0xFFFFFFF0ULL);
    EXPECT_EQ(WAVFormat::readU32(&h[4]), 0xFFFFFFFFu);
    EXPECT_EQ(WAVFormat::readU32(&h[40]), 0xFFFFFFF0u);
    h = WAVFormat::header(16000, 1, 0x100000000ULL + 5);
    EXPECT_EQ(WAVFormat::readU32(&h[4]), 0xFFFFFFFFu);
    EXPECT_EQ(WAVFormat::readU32(&h[40]), 0xFFFFFFFFu);
}

// A write the disk refuses halfway (here a file size limit) throws, counts nothing and
// leaves no partial buffer behind, so later samples and the header still line up.
void writeIntoAFullDisk(const std::string& path) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{44 + 1000, 44 + 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    WAVWriter writer(path);
    writer.write(std::vector<std::int16_t>(400, 1));
    try {
        writer.write(std::vector<std::int16_t>(400, 2));
        std::exit(2);
    } catch (const std::system_error&) {
    }
    if (writer.sampleCount() != 400 || std::filesystem::file_size(path) != 44 + 800)
        std::exit(3);
    writer.write(std::vector<std::int16_t>(50, 3));
    writer.close();
    std::string bytes = testing::readFile(path);
    std::exit(bytes.size() == 44 + 900 && u32At(bytes, 40) == 900 && sampleAt(bytes, 44 + 800) == 3
                  ? 0
                  : 4);
}

TEST(WAVWriter, AFailedWriteLeavesTheFileWholeAndTheCountsUnchanged) {
    TempDir dir;
    EXPECT_EXIT(writeIntoAFullDisk(dir / "rec.wav"), ::testing::ExitedWithCode(0), "");
}

struct Refusing {
    Refusing() { refuseHeader = true; }
    ~Refusing() { refuseHeader = false; }
};

// The sink, too, counts nothing as lost.
TEST(WAVWriter, SamplesWrittenBeforeAFailedHeaderCountAndTheHeaderIsMendedLater) {
    testing::TempDir dir;
    const std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    TrackSink sink("dictation", dir / "sink.wav");
    const std::vector<std::int16_t> samples(40000, 5); // 2.5 s: two header patches due
    {
        Refusing refusing;
        EXPECT_NO_THROW(writer.write(std::vector<std::int16_t>(24000, 3)));
        EXPECT_EQ(writer.sampleCount(), 24000);
        EXPECT_EQ(u32At(testing::readFile(path), 40), 0u);
        sink.append(AudioBuffer{AudioFormat{16000, 1, SampleType::int16}, samples.data(), 40000},
                    0);
        sink.close();
    }
    writer.write(std::vector<std::int16_t>(100, 4)); // the next write patches the header
    EXPECT_EQ(u32At(testing::readFile(path), 40), 48200u);
    EXPECT_EQ(sink.droppedFrames(), 0);
    EXPECT_EQ(sink.writtenSamples(), 40000);
    EXPECT_EQ(sink.writtenCount()->value(), 40000);
}

} // namespace
} // namespace talvoro
