#include "audio/wav_reader.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/core_audio_error.h"
#include "audio/wav_writer.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::TempDir;

std::string u16(std::uint32_t v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF)};
}
std::string u32(std::uint32_t v) {
    return u16(v & 0xFFFF) + u16(v >> 16);
}
std::string chunk(const std::string& id, std::uint32_t size, const std::string& body) {
    return id + u32(size) + body;
}
std::string chunk(const std::string& id, const std::string& body) {
    return chunk(id, static_cast<std::uint32_t>(body.size()), body);
}
std::string fmt(std::uint32_t channels = 1, std::uint32_t rate = 16000, std::uint32_t bits = 16,
                std::uint32_t tag = 1) {
    return chunk("fmt ", u16(tag) + u16(channels) + u32(rate) + u32(rate * channels * 2) +
                             u16(channels * 2) + u16(bits));
}
std::string pcm(const std::vector<std::int16_t>& samples) {
    std::string s;
    for (auto v : samples)
        s += u16(static_cast<std::uint16_t>(v));
    return s;
}
std::string riff(const std::string& chunks, std::uint32_t declared = 0) {
    return "RIFF" + u32(declared ? declared : static_cast<std::uint32_t>(chunks.size() + 4)) +
           "WAVE" + chunks;
}

std::string errorOf(const std::string& path, bool ignoring = false) {
    try {
        WAVReader reader(path, ignoring);
    } catch (const CoreAudioError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(WAVReader, ReadsWhatTheWriterWroteAsFloatsAndAStaleHeaderAsDeclaredUnlessIgnored) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    writer.write(std::vector<std::int16_t>{0, 16384, -32768, 32767, -1});
    writer.write(std::vector<std::int16_t>(15995, 1)); // patched: declares 32000 bytes
    writer.write(std::vector<std::int16_t>(100, 2));
    WAVReader reader(path);
    EXPECT_EQ(reader.sampleRate, 16000);
    EXPECT_EQ(reader.channels, 1);
    EXPECT_EQ(reader.sampleCount, 16000);
    EXPECT_EQ(reader.samples(0, 5),
              (std::vector<float>{0.0f, 0.5f, -1.0f, 32767 / 32768.0f, -1 / 32768.0f}));
    WAVReader growing(path, true);
    EXPECT_EQ(growing.sampleCount, 16100);
    EXPECT_EQ(growing.samples(16099, 16100), std::vector<float>{2 / 32768.0f});
}

TEST(WAVReader, UnfinishedOrCutOffHeadersAreReadToTheEndOfTheFile) {
    TempDir dir;
    // Writer killed before its first patch: declared size 0.
    std::string never = dir.write("never.wav", riff(fmt() + chunk("data", 0, pcm({1, 2, 3}))));
    EXPECT_EQ(WAVReader(never).sampleCount, 3);
    // Declares more than the file holds, with RIFF size 0xFFFFFFFF; odd trailing byte dropped.
    std::string cut = dir.write(
        "cut.wav", riff(fmt() + chunk("data", 1000000, pcm({1, 2, 3}) + "x"), 0xFFFFFFFF));
    WAVReader reader(cut);
    EXPECT_EQ(reader.sampleCount, 3);
    EXPECT_EQ(reader.samples(0, 10).size(), 3u);
    // Header only.
    std::string empty = dir.write("empty.wav", riff(fmt() + chunk("data", "")));
    EXPECT_EQ(WAVReader(empty).sampleCount, 0);
    EXPECT_EQ(WAVReader(empty).durationSeconds(), 0.0);
}

TEST(WAVReader, WalksUnusualButValidChunkLayoutsAndReadsTheFirstChannelWithinBounds) {
    TempDir dir;
    // An odd chunk with its pad byte, a second fmt overriding the first, a float tag with
    // 16 bits, and chunks after data that are never looked at.
    std::string layout = fmt(2, 8000) + chunk("LIST", "abc") + std::string(1, '\0') +
                         fmt(1, 22050, 16, 3) + chunk("data", pcm({5, 6})) + chunk("fmt ", 0, "");
    WAVReader reader(dir.write("odd.wav", riff(layout)));
    EXPECT_EQ(reader.sampleRate, 22050);
    EXPECT_EQ(reader.channels, 1);
    EXPECT_EQ(reader.samples(0, 2), (std::vector<float>{5 / 32768.0f, 6 / 32768.0f}));

    WAVReader stereo(dir.write("stereo.wav",
                               riff(fmt(2) + chunk("data", pcm({10, -10, 20, -20, 30, -30, 40})))));
    EXPECT_EQ(stereo.sampleCount, 3); // the incomplete last frame is not counted
    auto f = [](std::int16_t v) { return v / 32768.0f; };
    EXPECT_EQ(stereo.samples(-5, 100), (std::vector<float>{f(10), f(20), f(30)}));
    EXPECT_EQ(stereo.samples(1, 2), std::vector<float>{f(20)});
    EXPECT_TRUE(stereo.samples(2, 2).empty());
    EXPECT_TRUE(stereo.samples(3, 1).empty());
    EXPECT_TRUE(stereo.samples(5, 9).empty());
}

TEST(WAVReader, RejectsWhatIsNotAReadablePCM16WAVNamingTheFileAndTheBitsItRead) {
    TempDir dir;
    const std::string data = chunk("data", pcm({1, 2, 3, 4}));
    const std::string valid = riff(fmt() + data);
    EXPECT_EQ(errorOf(dir.write("short.wav", valid.substr(0, 43))), "short.wav: не WAV");
    EXPECT_EQ(errorOf(dir.write("wave.wav", valid.substr(0, 8) + "AVI " + valid.substr(12))),
              "wave.wav: не WAV");
    auto check = [&](const std::string& name, const std::string& chunks, const std::string& bits) {
        EXPECT_EQ(errorOf(dir.write(name, riff(chunks))),
                  name + ": ожидался PCM16, получено " + bits + " бит");
    };
    check("8.wav", fmt(1, 16000, 8) + data, "8");
    check("data-first.wav", data + fmt(), "0");
    check("no-data.wav", fmt() + chunk("LIST", "abcd"), "16");
    check("rate0.wav", fmt(1, 0) + data, "16");
    check("empty-chunk.wav", fmt() + chunk("LIST", "") + data, "16");
    check("past-end.wav", fmt() + chunk("LIST", 0x7FFFFFFF, "abcd") + data, "16");

    EXPECT_THROW(WAVReader(dir / "missing.wav"), std::system_error);
    EXPECT_THROW(WAVReader(dir.path()), std::system_error);
    std::string fifo = dir / "fifo.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(WAVReader(fifo, true), std::system_error) << "a pipe must not hang the reader";
}

TEST(WAVReader, AFileThatShrinksAfterOpeningYieldsWhatIsLeft) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    {
        WAVWriter writer(path);
        std::vector<std::int16_t> ramp(300000);
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = static_cast<std::int16_t>(i % 30000);
        writer.write(ramp);
    }
    WAVReader reader(path);
    ASSERT_EQ(reader.sampleCount, 300000);
    ASSERT_EQ(::truncate(path.c_str(), 44 + 2 * 123457 + 1), 0);
    auto samples = reader.samples(100, 300000);
    ASSERT_EQ(samples.size(), 123357u);
    EXPECT_EQ(samples.back(), (123456 % 30000) / 32768.0f);
    ASSERT_EQ(::truncate(path.c_str(), 0), 0);
    EXPECT_TRUE(reader.samples(0, 300000).empty());
}

// Live recognition reopens the file while the writer appends: every reader must see a
// prefix of what was written, never a torn or shifted sample.
TEST(WAVReader, AFileBeingWrittenReadsAsAGrowingPrefix) {
    TempDir dir;
    std::string path = dir / "rec.wav";
    WAVWriter writer(path);
    std::atomic<bool> done{false};
    std::thread appender([&] {
        std::vector<std::int16_t> buffer(1601);
        for (int b = 0; b < 400; ++b) {
            for (std::size_t i = 0; i < buffer.size(); ++i)
                buffer[i] = static_cast<std::int16_t>((b * buffer.size() + i) % 32749);
            writer.write(buffer);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        done = true;
    });
    std::int64_t seen = 0;
    int passes = 0;
    while (!done || passes == 0) {
        ++passes;
        WAVReader reader(path, true);
        ASSERT_GE(reader.sampleCount, seen);
        seen = reader.sampleCount;
        const std::int64_t from = std::max<std::int64_t>(0, seen - 5000);
        auto samples = reader.samples(from, seen);
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(samples[i], ((from + std::int64_t(i)) % 32749) / 32768.0f) << from + i;
    }
    appender.join();
    EXPECT_GT(passes, 1);
    EXPECT_EQ(WAVReader(path, true).sampleCount, 400 * 1601);
}

} // namespace
} // namespace talvoro
