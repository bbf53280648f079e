#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro::testing;
namespace fs = std::filesystem;

namespace {

const std::string testModel = TALVORO_BINARY_DIR "/test-models/gigaam";

// The test model's files under their published names.
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
    EXPECT_NE(refused.output.find("модель не установлена: " + bad +
                                  "/v3_e2e_rnnt_vocab.txt: SHA-256 не тот — файл повреждён или "
                                  "от другой модели"),
              std::string::npos)
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
