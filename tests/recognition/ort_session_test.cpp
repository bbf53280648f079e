#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "base/journal.h"
#include "base/paths.h"
#include "recognition/ort.h"
#include "recognition/ort_binding.h"
#include "recognition/ort_run_options.h"
#include "recognition/ort_session.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::readFile;
using talvoro::testing::runProgram;
using talvoro::testing::TempDir;

namespace {

class OrtSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        models = new TempDir;
        auto result = runProgram("/usr/bin/python3 " TALVORO_SOURCE_DIR
                                 "/tests/recognition/ort_layer_models.py " +
                                 models->path() + " 2>&1");
        ASSERT_EQ(result.status, 0) << result.output;
    }
    static void TearDownTestSuite() {
        delete models;
        models = nullptr;
    }
    void TearDown() override { ORT::releaseInputs(); }

    static std::string mixed() { return *models / "mixed.onnx"; }
    static std::map<std::string, ORT::Tensor> inputs() {
        std::map<std::string, ORT::Tensor> map;
        map.emplace("floats", ORT::Tensor(std::vector<float>{-1.5f, 0.0f, 2.0f}, {3}));
        map.emplace("ints", ORT::Tensor(std::vector<std::int64_t>{7, -2, 1LL << 33}, {3}));
        return map;
    }

    static TempDir* models;
};

TempDir* OrtSessionTest::models = nullptr;

std::string failureText(const std::function<void()>& body, ORT::Failure::Kind* kind = nullptr) {
    try {
        body();
    } catch (const ORT::Failure& failure) {
        if (kind)
            *kind = failure.kind();
        return failure.what();
    }
    return "";
}

TEST_F(OrtSessionTest, ReadsNamesInTheModelsOrder) {
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    EXPECT_EQ(session.inputNames(), (std::vector<std::string>{"floats", "ints"}));
    EXPECT_EQ(session.outputNames(),
              (std::vector<std::string>{"doubled", "narrow", "wide", "flags", "none"}));
}

TEST_F(OrtSessionTest, ReadsFloatAndIntegerResultsWithShapes) {
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    auto results = session.run(inputs(), {"doubled", "narrow", "wide"});
    ASSERT_EQ(results.size(), 3u);
    const ORT::Tensor& doubled = results.at("doubled");
    EXPECT_TRUE(doubled.holdsFloats());
    EXPECT_EQ(doubled.floats(), (std::vector<float>{-3.0f, 0.0f, 4.0f}));
    EXPECT_TRUE(doubled.ints().empty());
    EXPECT_EQ(doubled.shape, (std::vector<std::int64_t>{3}));
    // int32 comes back widened; the large value wraps as the model's own cast does.
    const ORT::Tensor& narrow = results.at("narrow");
    EXPECT_FALSE(narrow.holdsFloats());
    EXPECT_EQ(narrow.ints(), (std::vector<std::int64_t>{7, -2, 0}));
    const ORT::Tensor& wide = results.at("wide");
    EXPECT_EQ(wide.ints(), (std::vector<std::int64_t>{21, -6, 3LL << 33}));
    EXPECT_EQ(wide.floats(), (std::vector<float>{21.0f, -6.0f, static_cast<float>(3LL << 33)}));
}

TEST_F(OrtSessionTest, KeepsLentInputsUntilReleased) {
    ORT::releaseInputs();
    ORT::releaseInputs();
    EXPECT_EQ(ORT::lentInputs(), 0u);
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    session.run(inputs(), {"doubled"});
    EXPECT_EQ(ORT::lentInputs(), 2u);
    session.run(inputs(), {"wide"});
    EXPECT_EQ(ORT::lentInputs(), 4u);
    ORT::releaseInputs();
    EXPECT_EQ(ORT::lentInputs(), 0u);
}

TEST_F(OrtSessionTest, RefusesResultsItCannotRead) {
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    ORT::Failure::Kind kind = ORT::Failure::Kind::status;
    EXPECT_EQ(failureText(
                  [&] {
                      session.run(inputs(), {"doubled", "flags"});
                  },
                  &kind),
              "onnxruntime: неожиданный тип тензора: 9");
    EXPECT_EQ(kind, ORT::Failure::Kind::shape);
    EXPECT_EQ(failureText([&] { session.run(inputs(), {"none"}); }, &kind),
              "onnxruntime: пустой тензор");
    EXPECT_EQ(kind, ORT::Failure::Kind::shape);
    // The session stays usable after a failed read.
    EXPECT_EQ(session.run(inputs(), {"wide"}).size(), 1u);
}

TEST_F(OrtSessionTest, RuntimeErrorsBecomeStatusFailures) {
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    ORT::Failure::Kind kind = ORT::Failure::Kind::shape;
    std::string text = failureText([&] { session.run(inputs(), {"absent"}); }, &kind);
    EXPECT_EQ(kind, ORT::Failure::Kind::status);
    EXPECT_NE(text.find("absent"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("onnxruntime: ", 0), 0u);

    auto missingInput = inputs();
    missingInput.erase("ints");
    EXPECT_FALSE(failureText([&] { session.run(missingInput, {"doubled"}); }).empty());

    // A shape promising more elements than the buffer holds never reaches the runtime.
    std::map<std::string, ORT::Tensor> tooShort;
    tooShort.emplace("floats", ORT::Tensor(std::vector<float>{1.0f}, {4}));
    tooShort.emplace("ints", ORT::Tensor(std::vector<std::int64_t>{1}, {1}));
    EXPECT_EQ(failureText([&] { session.run(tooShort, {"doubled"}); }, &kind),
              "onnxruntime: форма 4 не совпадает с 1 элементами");
    for (std::vector<std::int64_t> shape :
         {std::vector<std::int64_t>{-1}, {1LL << 40, 1LL << 40}, {-2, -3}}) {
        std::map<std::string, ORT::Tensor> wrong;
        wrong.emplace("floats", ORT::Tensor(std::vector<float>{1.0f, 2.0f}, shape));
        wrong.emplace("ints", ORT::Tensor(std::vector<std::int64_t>{1}, {1}));
        EXPECT_EQ(failureText([&] { session.run(wrong, {"doubled"}); }, &kind),
                  "onnxruntime: недопустимая форма тензора");
        EXPECT_EQ(kind, ORT::Failure::Kind::shape);
    }
}

TEST_F(OrtSessionTest, TerminatedRunOptionsFailEveryRunUntilResumed) {
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    ORT::Binding binding(session, {"floats", "ints"}, {"doubled"});
    std::vector<float> floats{1.0f};
    std::vector<std::int64_t> ints{1};
    binding.lend(0, floats.data(), {1});
    binding.lend(1, ints.data(), {1});
    ORT::RunOptions options;
    options.terminate();
    EXPECT_THROW(session.run(inputs(), {"doubled"}, &options), ORT::Failure);
    EXPECT_THROW(binding.run(false, &options), ORT::Failure);
    options.resume();
    EXPECT_EQ(session.run(inputs(), {"doubled"}, &options).size(), 1u);
    binding.run(false, &options);
    EXPECT_EQ(binding.floats(0)[0], 2.0f);
}

TEST_F(OrtSessionTest, OpeningFailsForMissingFilesAndNonModels) {
    TempDir folder;
    ORT::Failure::Kind kind = ORT::Failure::Kind::shape;
    std::string missing = failureText(
        [&] { ORT::Session(folder / "absent.onnx", 1, ORT::Session::Where::processor); }, &kind);
    EXPECT_EQ(kind, ORT::Failure::Kind::status);
    EXPECT_EQ(missing.rfind("onnxruntime: ", 0), 0u);
    EXPECT_GT(missing.size(), std::string("onnxruntime: ").size());

    std::string text = folder.write("text.onnx", "это не модель\n");
    EXPECT_FALSE(
        failureText([&] { ORT::Session(text, 1, ORT::Session::Where::processor); }).empty());
    std::string empty = folder.write("empty.onnx", "");
    EXPECT_FALSE(
        failureText([&] { ORT::Session(empty, 1, ORT::Session::Where::processor); }).empty());
}

TEST_F(OrtSessionTest, NeuralFallsBackToTheProcessorAndSaysSo) {
    TempDir folder;
    std::filesystem::copy_file(mixed(), folder / "mixed.onnx");
    ORT::Session session(folder / "mixed.onnx", 1, ORT::Session::Where::neural);
    EXPECT_EQ(session.run(inputs(), {"doubled"}).at("doubled").floats().at(2), 4.0f);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "coreml"));

    // A folder that cannot take the cache folder (a file is in the way) changes nothing.
    TempDir blocked;
    std::filesystem::copy_file(mixed(), blocked / "mixed.onnx");
    blocked.write("coreml", "не папка");
    ORT::Session blockedSession(blocked / "mixed.onnx", 1, ORT::Session::Where::neural);
    EXPECT_EQ(blockedSession.outputNames().size(), 5u);
    EXPECT_FALSE(std::filesystem::is_directory(blocked / "coreml"));

    Journal::shared().flush();
    std::string log = readFile(Paths::state("log"));
    std::string fallback = "onnxruntime: нейромодуль недоступен, считаю на процессоре\n";
    std::size_t first = log.find(fallback);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(fallback, first + 1), std::string::npos) << log;
    // The runtime's own reason comes first, on a line of its own.
    std::size_t reason = log.find("onnxruntime: ");
    EXPECT_LT(reason, first);
    EXPECT_NE(log.substr(reason, first - reason).find("CoreML"), std::string::npos) << log;
}

TEST_F(OrtSessionTest, BindingRunsOverCallerMemoryAndReusesOutputs) {
    ORT::Session session(mixed(), 1, ORT::Session::Where::processor);
    ORT::Binding binding(session, {"floats", "ints"}, {"doubled", "wide", "narrow"});
    std::vector<float> floats{1.0f, 2.0f};
    std::vector<std::int64_t> ints{5, 6};
    EXPECT_THROW(binding.run(), ORT::Failure);
    binding.lend(0, floats.data(), {2});
    binding.lend(1, ints.data(), {2});
    binding.run();
    ASSERT_TRUE(binding.has(0));
    EXPECT_EQ(std::vector<float>(binding.floats(0).begin(), binding.floats(0).end()),
              (std::vector<float>{2.0f, 4.0f}));
    const float* first = binding.floats(0).data();

    floats[1] = 10.0f;
    ints[0] = -1;
    binding.run(true);
    EXPECT_EQ(binding.floats(0).data(), first);
    EXPECT_EQ(binding.floats(0)[1], 20.0f);
    EXPECT_EQ(binding.ints(1)[0], -3);
    EXPECT_EQ(binding.shape(1), (std::vector<std::int64_t>{2}));
    EXPECT_EQ(binding.tensor(2).ints(), (std::vector<std::int64_t>{-1, 6}));
    EXPECT_THROW(binding.ints(2), ORT::Failure);
    EXPECT_THROW(binding.floats(1), ORT::Failure);
    EXPECT_THROW(binding.lend(0, floats.data(), {-1}), ORT::Failure);
    EXPECT_THROW(binding.lend(0, floats.data(), {1LL << 40, 1LL << 40}), ORT::Failure);
    EXPECT_THROW(binding.lend(2, floats.data(), {2}), std::out_of_range);

    // A reused output that no longer fits is dropped, not fatal.
    std::vector<float> longer{1.0f, 2.0f, 3.0f};
    std::vector<std::int64_t> longerInts{1, 2, 3};
    binding.lend(0, longer.data(), {3});
    binding.lend(1, longerInts.data(), {3});
    try {
        binding.run(true);
    } catch (const ORT::Failure&) {
        EXPECT_FALSE(binding.has(0));
        binding.run();
    }
    EXPECT_EQ(binding.floats(0).size(), 3u);
    EXPECT_EQ(ORT::lentInputs(), 0u);
}

} // namespace
