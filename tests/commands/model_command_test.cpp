#include <gtest/gtest.h>

#include <filesystem>

#include "download/model_server.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/test_model_audio.h"

using namespace talvoro::testing;
namespace fs = std::filesystem;

namespace {

const std::string testModel = TALVORO_BINARY_DIR "/test-models/gigaam";

// The test model's files under their published names, as the model's sources serve them.
void publishedCopy(const std::string& folder) {
    fs::create_directories(folder);
    for (const char* part : {"encoder", "decoder", "joint"})
        fs::create_symlink(testModel + "/gigaam-v3-" + part + ".onnx",
                           folder + "/v3_e2e_rnnt_" + part + ".int8.onnx");
    fs::copy_file(testModel + "/gigaam-v3-vocab.txt", folder + "/v3_e2e_rnnt_vocab.txt");
}

ProgramResult import(const TempDir& dir, const std::string& folder) {
    // A runtime folder of its own: no instance of anyone else's answers.
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    return runProgram("XDG_RUNTIME_DIR='" + (dir / "run") + "' MODEL_DIR='" + (dir / "models") +
                      "' MODEL_MANIFEST='" + testModel + "/manifest.txt' " + talvoroExecutable() +
                      " model import '" + folder + "' 2>&1");
}

ProgramResult dictateprobe(const std::string& models, const std::string& sources,
                           const std::string& arguments) {
    return runProgram("MODEL_DIR='" + models + "' MODEL_SOURCES='" + sources +
                      "' MODEL_MANIFEST='" + testModel + "/manifest.txt' " + talvoroExecutable() +
                      " dictateprobe " + arguments + " 2>&1");
}

bool has(const ProgramResult& result, const std::string& text) {
    return result.output.find(text) != std::string::npos;
}

} // namespace

TEST(ModelCommand, AGoodFolderIsInstalledAndACorruptedOneChangesNothing) {
    TempDir dir;
    const std::string bad = dir / "bad";
    publishedCopy(bad);
    std::string vocabulary = readFile(bad + "/v3_e2e_rnnt_vocab.txt");
    vocabulary[vocabulary.size() / 2] ^= 1;
    dir.write("bad/v3_e2e_rnnt_vocab.txt", vocabulary);
    const ProgramResult refused = import(dir, bad);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(has(refused, "модель не установлена: " + bad +
                                 "/v3_e2e_rnnt_vocab.txt: SHA-256 не тот — файл повреждён или "
                                 "от другой модели"))
        << refused.output;
    EXPECT_TRUE(!fs::exists(dir / "models") || fs::is_empty(dir / "models"));

    const std::string good = dir / "good";
    publishedCopy(good);
    const ProgramResult installed = import(dir, good);
    EXPECT_EQ(installed.status, 0) << installed.output;
    EXPECT_EQ(installed.output, "модель установлена в " + (dir / "models") +
                                    "\nТальворо не запущено — модель подхватится при запуске\n");
    for (const char* name : {"gigaam-v3-encoder.onnx", "gigaam-v3-decoder.onnx",
                             "gigaam-v3-joint.onnx", "gigaam-v3-vocab.txt"})
        EXPECT_EQ(readFile(dir / ("models/" + std::string(name))),
                  readFile(testModel + "/" + name));
    EXPECT_FALSE(readFile(dir / "models/.verified").empty()) << "no hashing at the next start";
}

TEST(DictateprobeCommand, FetchesAMissingModelThenRecognisesWithIt) {
    TempDir dir;
    ModelServer server;
    ASSERT_TRUE(server.running());
    publishedCopy(server.root());
    const std::string wav = writeTestModelGreeting(dir / "привет.wav");
    const std::string models = dir / "models";
    const std::string sources = server.base("404:encoder") + " " + server.base("redirect/ok");

    const auto first = dictateprobe(models, sources, "'" + wav + "' --engine local");
    EXPECT_EQ(first.status, 0) << first.output;
    EXPECT_TRUE(first.output.starts_with("движок: local — на этом компьютере\n"
                                         "модели GigaAM нет — качаю (4 части, 226 МБ) в " +
                                         models + "\n"))
        << first.output;
    EXPECT_TRUE(has(first, "\n  скачано ")) << first.output;
    EXPECT_TRUE(has(first, "\nмодель скачана в " + models + "\n"));
    EXPECT_TRUE(has(first, "\nраспознано: привет мир\n\nОК — доставка работает\n")) << first.output;
    for (const char* name : {"gigaam-v3-encoder.onnx", "gigaam-v3-decoder.onnx",
                             "gigaam-v3-joint.onnx", "gigaam-v3-vocab.txt"})
        EXPECT_TRUE(fs::exists(models + "/" + name)) << name;

    const auto second = dictateprobe(models, sources, "'" + wav + "'");
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_FALSE(has(second, "качаю")) << "the model is there now";
    EXPECT_TRUE(has(second, "распознано: привет мир\n"));
}

TEST(DictateprobeCommand, AFailedDownloadAndAMissingFileAreReported) {
    TempDir dir;
    ModelServer server;
    ASSERT_TRUE(server.running());
    const std::string wav = writeTestModelGreeting(dir / "привет.wav");

    const auto failed = dictateprobe(dir / "models", server.base("404"), "'" + wav + "'");
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(has(
        failed, "\nмодель не скачалась: v3_e2e_rnnt_encoder.int8.onnx из " + server.base("404") +
                    " отброшен: ответ 404, 15 Б вместо " +
                    std::to_string(fs::file_size(testModel + "/gigaam-v3-encoder.onnx")) + "\n"))
        << failed.output;
    EXPECT_TRUE(has(failed, "\n\nне доехало: модель не скачана: части модели не доехали\n"
                            "постоянное — ожиданием не лечится\nчеловеку: модель не скачана — "))
        << failed.output;

    const auto missing = dictateprobe(testModel, server.base("ok"), "'" + (dir / "нет.wav") + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(has(missing, "ошибка: нет файла " + (dir / "нет.wav") +
                                 " — укажи любой wav: dictateprobe запись.wav\n"))
        << missing.output;
    EXPECT_FALSE(has(missing, "качаю"));
    EXPECT_TRUE(server.requests().size() == 1u) << "only the failed run asked";
}
