#include "recognition/rnnt_greedy_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace talvoro;

namespace {

// Scores by (frame value, last token fed): the frame's single value names the frame, the
// prediction is the last token stepped. Unscripted pairs score blank highest.
class ScriptedRunner : public RNNTRunner {
public:
    explicit ScriptedRunner(int vocabulary) : scores(vocabulary) {}

    std::function<std::vector<float>(int frame, std::int64_t last, int callInFrame)> script;
    std::vector<std::int64_t> steps;
    int resets = 0;
    int joints = 0;

    void resetState() override {
        ++resets;
        steps.clear();
        lastFrame = -1;
    }
    void step(std::int64_t token) override { steps.push_back(token); }
    std::span<const float> joint(std::span<const float> frame) override {
        ++joints;
        const int f = static_cast<int>(frame[0]);
        callInFrame = f == lastFrame ? callInFrame + 1 : 0;
        lastFrame = f;
        scores = script(f, steps.back(), callInFrame);
        return scores;
    }

private:
    std::vector<float> scores;
    int lastFrame = -1;
    int callInFrame = 0;
};

std::vector<float> oneHot(int size, int index) {
    std::vector<float> v(size, 0.0f);
    v[index] = 1.0f;
    return v;
}

struct Frames {
    std::vector<float> values;
    EncodedFrames view() const { return {values, 1, values.size()}; }
};

Frames frames(int count) {
    Frames f;
    for (int t = 0; t < count; ++t)
        f.values.push_back(static_cast<float>(t));
    return f;
}

} // namespace

TEST(RnntGreedyDecoder, FirstArgmaxTakesTheLowestIndexOnTiesAndSkipsNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(firstArgmax({}), -1);
    EXPECT_EQ(firstArgmax(std::vector<float>{1, 3, 3, 2}), 1);
    EXPECT_EQ(firstArgmax(std::vector<float>{nan, -5, nan, -4}), 3);
    EXPECT_EQ(firstArgmax(std::vector<float>{nan, nan}), 0);
    EXPECT_EQ(firstArgmax(std::vector<float>{-inf, -inf, -inf}), 0);
    EXPECT_EQ(firstArgmax(std::vector<float>{-inf, std::numeric_limits<float>::lowest()}), 0);
    EXPECT_EQ(firstArgmax(std::vector<float>{0, inf, inf}), 1);
}

TEST(RnntGreedyDecoder, PrimesWithBlankAndStepsOncePerEmittedToken) {
    // Blank is 4. Frame 0 emits 1 then 2; frame 1 nothing; frame 2 emits 3.
    ScriptedRunner runner(5);
    runner.script = [](int frame, std::int64_t last, int) {
        if (frame == 0 && last == 4)
            return oneHot(5, 1);
        if (frame == 0 && last == 1)
            return oneHot(5, 2);
        if (frame == 2 && last == 2)
            return oneHot(5, 3);
        return oneHot(5, 4);
    };
    const Frames f = frames(3);
    EXPECT_EQ(rnntGreedyDecode(runner, f.view(), 4, 10), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(runner.resets, 1);
    EXPECT_EQ(runner.steps, (std::vector<std::int64_t>{4, 1, 2, 3}));
    EXPECT_EQ(runner.joints, 3 + 1 + 2); // frame 0: 1, 2, blank; frame 1: blank; frame 2: 3, blank
}

TEST(RnntGreedyDecoder, StopsAFrameAfterTheSymbolCapAndMovesOn) {
    // Frame 0 never yields blank; frame 1 emits one more token.
    ScriptedRunner runner(3);
    runner.script = [](int frame, std::int64_t, int call) {
        if (frame == 0)
            return oneHot(3, 0);
        return call == 0 ? oneHot(3, 1) : oneHot(3, 2);
    };
    const Frames f = frames(2);
    const auto tokens = rnntGreedyDecode(runner, f.view(), 2, 10);
    std::vector<std::int64_t> expected(10, 0);
    expected.push_back(1);
    EXPECT_EQ(tokens, expected);
    EXPECT_EQ(runner.joints, 10 + 2);
}

TEST(RnntGreedyDecoder, TieBetweenTokenAndBlankEmitsTheLowerId) {
    ScriptedRunner runner(3);
    runner.script = [](int, std::int64_t last, int) {
        return last == 2 ? std::vector<float>{0.5f, 0.9f, 0.9f} : std::vector<float>{0, 0, 1};
    };
    const Frames f = frames(2);
    EXPECT_EQ(rnntGreedyDecode(runner, f.view(), 2, 10), (std::vector<std::int64_t>{1}));
}

TEST(RnntGreedyDecoder, EmptyJointOutputSkipsTheFrame) {
    ScriptedRunner runner(3);
    runner.script = [](int frame, std::int64_t, int call) {
        if (frame == 0)
            return std::vector<float>{};
        return call == 0 ? oneHot(3, 0) : oneHot(3, 2);
    };
    const Frames f = frames(2);
    EXPECT_EQ(rnntGreedyDecode(runner, f.view(), 2, 10), (std::vector<std::int64_t>{0}));
}
