#include "recognition/gigaam_transcriber.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "audio/wav_writer.h"
#include "base/config.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/local_model_missing.h"
#include "recognition/local_recognition_error.h"
#include "support/temp_dir.h"

using namespace talvoro;
namespace fs = std::filesystem;

namespace {

using Files = GigaAMTranscriber::Files;

void makeFile(const std::string& path, std::uintmax_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).put('x');
    fs::resize_file(path, size); // sparse: sizes of 100 MiB cost nothing
}

// A folder whose files pass every size floor but hold no model at all.
void makeJunkModel(const talvoro::testing::TempDir& dir) {
    for (const auto& [name, minimum] : Files::required)
        makeFile(dir / name, minimum);
    makeFile(dir / Files::preprocessor, 10);
}

std::string writeWav(const talvoro::testing::TempDir& dir, std::size_t frames,
                     std::int64_t rate = 16000, std::int64_t channels = 1) {
    const std::string path = dir / "запись.wav";
    WAVWriter writer(path, rate, channels);
    std::vector<std::int16_t> samples(frames * static_cast<std::size_t>(channels), 1000);
    writer.write(samples);
    writer.close();
    return path;
}

template <typename Error, typename Call> Error errorOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "no such error";
    throw std::logic_error("no error");
}

} // namespace

TEST(GigaAMTranscriber, UsableOnlyWithEveryFileWholeAndSaysWhatIsMissing) {
    talvoro::testing::TempDir dir;
    makeJunkModel(dir);
    EXPECT_TRUE(GigaAMTranscriber::isUsable(dir.path()));
    fs::resize_file(dir / Files::encoder, 104857599);
    EXPECT_FALSE(GigaAMTranscriber::isUsable(dir.path()));
    EXPECT_EQ(GigaAMTranscriber::missingPart(dir.path()),
              "файл gigaam-v3-encoder.onnx в " + dir.path() + " скачан не целиком");
    fs::resize_file(dir / Files::encoder, 104857600);
    fs::remove(dir / Files::vocabulary);
    fs::create_directory(dir / Files::vocabulary);
    EXPECT_FALSE(GigaAMTranscriber::isUsable(dir.path()));
    fs::remove(dir / Files::decoder);
    EXPECT_EQ(GigaAMTranscriber::missingPart(dir.path()),
              "нет файла gigaam-v3-decoder.onnx в " + dir.path());
}

TEST(GigaAMTranscriber, EmptyRecordingNeedsNoModelButAShortOneDoes) {
    talvoro::testing::TempDir dir;
    const std::string folder = dir / "нет модели";
    GigaAMTranscriber transcriber(folder);
    EXPECT_EQ(transcriber.transcribe(writeWav(dir, 0)), "");
    EXPECT_EQ(transcriber.transcribe(std::span<const float>()), "");
    const auto missing =
        errorOf<LocalModelMissing>([&] { transcriber.transcribe(writeWav(dir, 100)); });
    EXPECT_STREQ(missing.what(),
                 ("модель не скачана: нет файла gigaam-v3-encoder.onnx в " + folder).c_str());
    const std::vector<float> samples(10);
    errorOf<LocalModelMissing>([&] { transcriber.look(samples, true); });
}

TEST(GigaAMTranscriber, WrongFormatIsRefusedBeforeTheModel) {
    talvoro::testing::TempDir dir;
    GigaAMTranscriber transcriber(dir / "нет модели");
    const std::string path = writeWav(dir, 44100, 44100, 2);
    const auto error = errorOf<LocalRecognitionError>([&] { transcriber.transcribe(path); });
    EXPECT_EQ(error.kind(), LocalRecognitionError::Kind::unfitRecording);
    EXPECT_EQ(error.file(), path);
    EXPECT_EQ(error.detail(), "нужен PCM16 mono 16 кГц, а тут 44100 Гц, 2 кан.");
}

TEST(GigaAMTranscriber, AModelFileThatDoesNotLoadIsNamedAndTriedAgainNextTime) {
    talvoro::testing::TempDir dir;
    makeJunkModel(dir);
    GigaAMTranscriber transcriber(dir.path());
    const std::vector<float> samples(16000, 0.1f);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto error = errorOf<LocalRecognitionError>([&] { transcriber.transcribe(samples); });
        EXPECT_EQ(error.kind(), LocalRecognitionError::Kind::brokenModel);
        EXPECT_EQ(error.file(), dir / Files::preprocessor);
    }
}

TEST(GigaAMTranscriber, ChosenAsTheEngineOnlyWhenTheFolderIsUsable) {
    talvoro::testing::TempDir dir;
    const Config config = Config::fromSources({{"MODEL_DIR", dir.path()}}, {});
    EXPECT_EQ(DictationEngineStore::gigaam(config), nullptr);
    EXPECT_EQ(dictationTranscriber(config)->identity(), "модель не скачана");
    makeJunkModel(dir);
    const auto engine = DictationEngineStore::gigaam(config);
    ASSERT_NE(engine, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<LocalDictationStream::Engine>(engine), nullptr);
    EXPECT_EQ(dictationTranscriber(config)->identity(), GigaAMTranscriber::version);
}
