#include "audio/wav_writer.h"

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "audio/wav_format.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::TempDir;

std::uint32_t u32At(const std::string& bytes, std::size_t offset) {
    return WAVFormat::readU32(reinterpret_cast<const std::uint8_t*>(bytes.data() + offset));
}
std::uint16_t u16At(const std::string& bytes, std::size_t offset) {
    return WAVFormat::readU16(reinterpret_cast<const std::uint8_t*>(bytes.data() + offset));
}

TEST(WAVWriter, NewFileIsAnEmptyRecordingReadableByTheOwnerOnly) {
    TempDir dir;
    std::string path = dir / "a/b/rec.wav";
    WAVWriter writer(path);
    std::string bytes = testing::readFile(path);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(u32At(bytes, 4), 36u);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32At(bytes, 16), 16u);
    EXPECT_EQ(u16At(bytes, 20), 1);
    EXPECT_EQ(u16At(bytes, 22), 1);
    EXPECT_EQ(u32At(bytes, 24), 16000u);
    EXPECT_EQ(u32At(bytes, 28), 32000u);
    EXPECT_EQ(u16At(bytes, 32), 2);
    EXPECT_EQ(u16At(bytes, 34), 16);
    EXPECT_EQ(bytes.substr(36, 4), "data");
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

    writer.close();
    bytes = testing::readFile(path);
    EXPECT_EQ(u32At(bytes, 40), 51200u);
    EXPECT_EQ(u32At(bytes, 4), 51236u);
    EXPECT_EQ(u16At(bytes, 44), 7);
}

TEST(WAVWriter, NothingChangesAfterCloseOrForAnEmptyBuffer) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    writer.write(std::vector<std::int16_t>{1, -2, 3});
    writer.write(std::span<const std::int16_t>{});
    EXPECT_EQ(writer.sampleCount(), 3);
    writer.close();
    std::string closedBytes = testing::readFile(path);
    writer.write(std::vector<std::int16_t>(40000, 1));
    writer.close();
    EXPECT_EQ(testing::readFile(path), closedBytes);
    EXPECT_EQ(writer.sampleCount(), 3);
    EXPECT_EQ(static_cast<std::int16_t>(u16At(closedBytes, 46)), -2);
}

TEST(WAVWriter, StereoCountsFramesAndPatchesAfterASecondOfFrames) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    WAVWriter writer(path, 8000, 2);
    writer.write(std::vector<std::int16_t>(15999, 1)); // one sample short of a second
    EXPECT_EQ(u32At(testing::readFile(path), 40), 0u);
    EXPECT_EQ(writer.sampleCount(), 7999);
    writer.write(std::vector<std::int16_t>(1, 1));
    std::string bytes = testing::readFile(path);
    EXPECT_EQ(u32At(bytes, 40), 32000u);
    EXPECT_EQ(u32At(bytes, 28), 32000u);
    EXPECT_EQ(u16At(bytes, 32), 4);
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
    std::exit(
        bytes.size() == 44 + 900 && u32At(bytes, 40) == 900 && u16At(bytes, 44 + 800) == 3 ? 0 : 4);
}

TEST(WAVWriter, AFailedWriteLeavesTheFileWholeAndTheCountsUnchanged) {
    TempDir dir;
    EXPECT_EXIT(writeIntoAFullDisk(dir / "rec.wav"), ::testing::ExitedWithCode(0), "");
}

// Appends on one thread while others read the length and one closes midway: the file
// must end whole-sampled, with a header that matches it exactly.
TEST(WAVWriter, ConcurrentAppendsReadsAndCloseLeaveAnExactFile) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    std::atomic<bool> done{false};
    std::thread appender([&] {
        std::vector<std::int16_t> buffer(333, 5);
        for (int i = 0; i < 3000; ++i)
            writer.write(buffer);
        done = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            std::int64_t last = 0;
            while (!done) {
                std::int64_t now = writer.sampleCount();
                EXPECT_GE(now, last);
                EXPECT_EQ(now % 333, 0);
                last = now;
                (void)writer.durationSeconds();
            }
        });
    while (writer.sampleCount() < 333 * 500)
        std::this_thread::yield();
    writer.close();
    appender.join();
    for (auto& t : readers)
        t.join();

    std::string bytes = testing::readFile(path);
    EXPECT_EQ(u32At(bytes, 40), bytes.size() - 44);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size() - 44) / 2, writer.sampleCount());
    EXPECT_GE(writer.sampleCount(), 333 * 500);
}

} // namespace
} // namespace talvoro
