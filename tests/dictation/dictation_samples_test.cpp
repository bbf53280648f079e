#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "audio/wav_writer.h"
#include "base/journal.h"
#include "base/paths.h"
#include "dictation/dictation_samples.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::readFile;
using testing::TempDir;
namespace fs = std::filesystem;

std::string recording(const std::string& path, std::int64_t samples) {
    WAVWriter writer(path);
    writer.write(std::vector<std::int16_t>(static_cast<std::size_t>(samples), 100));
    writer.close();
    return path;
}

std::vector<fs::path> files(const std::string& folder, const std::string& extension) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == extension)
            found.push_back(entry.path());
    return found;
}

TEST(DictationSamples, KeepsAPrivatePairWhoseRecordReadsBackAndSkipsMissingFiles) {
    TempDir dir;
    const DictationSamples samples(dir / "samples");
    samples.keep(dir / "missing.wav", "текст", "файл", "local");
    EXPECT_FALSE(fs::exists(dir / "samples"));

    // Still being written: the header declares nothing yet, 0.9 s of data are there.
    WAVWriter open(dir / "open.wav");
    open.write(std::vector<std::int16_t>(14400, 100));
    samples.keep(dir / "open.wav", "a/b", "стрим", "local");
    open.close();

    const std::vector<fs::path> jsons = files(dir / "samples", ".json");
    ASSERT_EQ(jsons.size(), 1u);
    const std::string json = readFile(jsons[0]);
    EXPECT_NE(json.find("\"a/b\""), std::string::npos) << "the slash stays unescaped";
    EXPECT_LT(json.find("\"app\""), json.find("\"who\"")) << "keys in order";
    const QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    EXPECT_EQ(record.value("seconds").toDouble(), 0.9);
    EXPECT_FALSE(record.contains("model"));
    EXPECT_EQ(record.value("app").toString().toStdString(), DictationSamples::appVersion());
    // "2026-01-01 13:00:00+0300"
    EXPECT_EQ(record.value("at").toString().size(), 24);

    struct stat info {};
    ASSERT_EQ(::stat(jsons[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "samples").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(DictationSamples, TrimEvictsTheOldestWholePairsAndSparesOtherFiles) {
    TempDir dir;
    dir.write("samples/2026-01-01 100000-aaaa.wav", std::string(1000, 'x'));
    dir.write("samples/2026-01-01 100000-aaaa.json", "{}");
    dir.write("samples/2026-01-01 090000-bbbb.json", "orphan");
    dir.write("samples/о разметке.txt", "note");
    const DictationSamples samples(dir / "samples", 33000);
    samples.keep(recording(dir / "r.wav", 16000), "текст", "файл", "local");
    EXPECT_FALSE(fs::exists(dir / "samples/2026-01-01 100000-aaaa.wav"));
    EXPECT_FALSE(fs::exists(dir / "samples/2026-01-01 100000-aaaa.json"));
    EXPECT_TRUE(fs::exists(dir / "samples/2026-01-01 090000-bbbb.json"));
    EXPECT_TRUE(fs::exists(dir / "samples/о разметке.txt"));
    EXPECT_EQ(samples.count(), 1);
}

TEST(DictationSamples, ArchiveOfTheSameDayReplacesTheEarlierOneAndNamesNoModelWhenNoneIsGiven) {
    TempDir dir;
    const DictationSamples samples(dir / "samples");
    samples.keep(recording(dir / "r.wav", 8000), "раз", "файл", "local");
    const mode_t umaskBefore = ::umask(022);
    const std::string first = samples.archive(dir / "out");
    ::umask(umaskBefore);
    EXPECT_EQ(fs::status(first).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "speech for the user alone";
    EXPECT_NE(readFile(dir / "samples/о разметке.txt").find("\nМодель: не сказали\n"),
              std::string::npos);
    samples.keep(recording(dir / "r.wav", 8000), "два", "файл", "local");
    const std::string second = samples.archive(dir / "out", "модель");
    EXPECT_EQ(first, second);
    EXPECT_EQ(fs::path(second).filename().string().rfind("Тальворо — разметка ", 0), 0u);
    EXPECT_EQ(files(dir / "out", ".zip").size(), 1u);
    const auto listing = testing::runProgram("unzip -Z1 '" + second + "'").output;
    EXPECT_NE(listing.find("о разметке.txt"), std::string::npos) << listing;
    Journal::shared().flush();
    EXPECT_NE(readFile(Journal::shared().path()).find(" разметка собрана: пар 2 → Тальворо"),
              std::string::npos);
}

TEST(DictationSamples, ArchiveReportsAZipThatFails) {
    TempDir dir;
    const DictationSamples samples(dir / "samples");
    samples.keep(recording(dir / "r.wav", 8000), "раз", "файл", "local");
    dir.write("out", "a file where the folder should be");
    try {
        samples.archive(dir / "out");
        ADD_FAILURE() << "archived into a file";
    } catch (const DictationSamples::SamplesError& error) {
        EXPECT_EQ(error.kind(), DictationSamples::SamplesError::Kind::zipFailed);
        EXPECT_EQ(std::string(error.what()),
                  "архив не собрался (zip вернул " + std::to_string(error.status()) + ")");
    }
}

} // namespace
} // namespace talvoro
