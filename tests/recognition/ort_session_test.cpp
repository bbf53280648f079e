#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/journal.h"
#include "base/paths.h"
#include "recognition/ort.h"
#include "recognition/ort_binding.h"
#include "recognition/ort_session.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::TempDir;
using Where = ORT::Session::Where;

namespace {

// mixed.onnx (see ort_layer_models.py): "floats", "ints" → "doubled" (float), "narrow"
// (int32), "wide" (int64, ×3), "flags" (bool), "none" (no elements).
class OrtSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        models = new TempDir;
        auto made = talvoro::testing::runProgram("/usr/bin/python3 " TALVORO_SOURCE_DIR
                                                 "/tests/recognition/ort_layer_models.py " +
                                                 models->path() + " 2>&1");
        ASSERT_EQ(made.status, 0) << made.output;
    }
    static void TearDownTestSuite() { delete models; }
    void TearDown() override { ORT::releaseInputs(); }

    static std::string mixed() { return *models / "mixed.onnx"; }
    static std::map<std::string, ORT::Tensor> inputs(std::vector<float> floats = {-1.5f, 0, 2},
                                                     std::vector<std::int64_t> shape = {3}) {
        std::map<std::string, ORT::Tensor> map;
        map.emplace("floats", ORT::Tensor(std::move(floats), std::move(shape)));
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

TEST_F(OrtSessionTest, ReadsNamesAndFloatAndIntegerResultsAndLendsInputsUntilReleased) {
    ORT::Session session(mixed(), 1, Where::processor);
    EXPECT_EQ(session.inputNames(), (std::vector<std::string>{"floats", "ints"}));
    EXPECT_EQ(session.outputNames().size(), 5u);
    ORT::releaseInputs();
    auto results = session.run(inputs(), {"doubled", "narrow", "wide"});
    EXPECT_EQ(ORT::lentInputs(), 2u);
    const ORT::Tensor& doubled = results.at("doubled");
    EXPECT_EQ(doubled.floats(), (std::vector<float>{-3.0f, 0.0f, 4.0f}));
    EXPECT_TRUE(doubled.ints().empty());
    EXPECT_EQ(doubled.shape, (std::vector<std::int64_t>{3}));
    // int32 comes back widened; the large value wraps as the model's own cast does.
    EXPECT_EQ(results.at("narrow").ints(), (std::vector<std::int64_t>{7, -2, 0}));
    EXPECT_EQ(results.at("wide").floats(),
              (std::vector<float>{21.0f, -6.0f, static_cast<float>(3LL << 33)}));
    ORT::releaseInputs();
    EXPECT_EQ(ORT::lentInputs(), 0u);
}

TEST_F(OrtSessionTest, RefusesResultsItCannotReadAndShapesNoBufferHolds) {
    ORT::Session session(mixed(), 1, Where::processor);
    ORT::Failure::Kind kind = ORT::Failure::Kind::status;
    auto failure = [&](std::map<std::string, ORT::Tensor> given, std::vector<std::string> wanted) {
        return failureText([&] { session.run(std::move(given), wanted); }, &kind);
    };
    EXPECT_EQ(failure(inputs(), {"doubled", "flags"}), "onnxruntime: неожиданный тип тензора: 9");
    EXPECT_EQ(kind, ORT::Failure::Kind::shape);
    EXPECT_EQ(failure(inputs(), {"none"}), "onnxruntime: пустой тензор");
    EXPECT_NE(failure(inputs(), {"absent"}).find("absent"), std::string::npos);
    EXPECT_EQ(kind, ORT::Failure::Kind::status);
    // A shape promising more elements than the buffer holds never reaches the runtime.
    EXPECT_EQ(failure(inputs({1.0f}, {4}), {"doubled"}),
              "onnxruntime: форма 4 не совпадает с 1 элементами");
    for (std::vector<std::int64_t> shape : {std::vector<std::int64_t>{-1}, {1LL << 40, 1LL << 40}})
        EXPECT_EQ(failure(inputs({1, 2}, shape), {"doubled"}),
                  "onnxruntime: недопустимая форма тензора");
    EXPECT_EQ(session.run(inputs(), {"wide"}).size(), 1u); // still usable
}

TEST_F(OrtSessionTest, NeuralFallsBackToTheProcessorAndSaysSo) {
    TempDir folder;
    std::filesystem::copy_file(mixed(), folder / "mixed.onnx");
    ORT::Session session(folder / "mixed.onnx", 1, Where::neural);
    EXPECT_EQ(session.run(inputs(), {"doubled"}).at("doubled").floats().at(2), 4.0f);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "coreml"));
    Journal::shared().flush();
    const std::string log = talvoro::testing::readFile(Paths::state("log"));
    const std::size_t fallback =
        log.find("onnxruntime: нейромодуль недоступен, считаю на процессоре\n");
    ASSERT_NE(fallback, std::string::npos) << log;
    // The runtime's own reason comes first, on a line of its own.
    EXPECT_NE(log.substr(0, fallback).find("CoreML"), std::string::npos) << log;
}

TEST_F(OrtSessionTest, BindingRunsOverCallerMemoryAndReusesOutputs) {
    ORT::Session session(mixed(), 1, Where::processor);
    ORT::Binding binding(session, {"floats", "ints"}, {"doubled", "wide", "narrow"});
    std::vector<float> floats{1.0f, 2.0f};
    std::vector<std::int64_t> ints{5, 6};
    EXPECT_THROW(binding.run(), ORT::Failure); // nothing lent yet
    binding.lend(0, floats.data(), {2});
    binding.lend(1, ints.data(), {2});
    binding.run();
    const float* first = binding.floats(0).data();
    floats[1] = 10.0f;
    ints[0] = -1;
    binding.run(true);
    EXPECT_EQ(binding.floats(0).data(), first);
    EXPECT_EQ(binding.floats(0)[1], 20.0f);
    EXPECT_EQ(binding.ints(1)[0], -3);
    EXPECT_EQ(binding.tensor(2).ints(), (std::vector<std::int64_t>{-1, 6}));
    EXPECT_THROW(binding.ints(2), ORT::Failure);
    EXPECT_THROW(binding.lend(0, floats.data(), {1LL << 40, 1LL << 40}), ORT::Failure);

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
