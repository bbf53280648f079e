#include "recognition/rnnt_greedy_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace talvoro;

namespace {

// Scores by (frame, last token fed, call within the frame); frame t's single value is t.
class ScriptedRunner : public RNNTRunner {
public:
    std::function<int(int frame, std::int64_t last, int call)> best; // the winning token
    int vocabulary = 5;
    std::vector<std::int64_t> steps;
    int joints = 0;

    void resetState() override { steps.clear(); }
    void step(std::int64_t token) override { steps.push_back(token); }
    std::span<const float> joint(std::span<const float> frame) override {
        const int f = static_cast<int>(frame[0]);
        call = f == lastFrame ? call + 1 : 0;
        lastFrame = f;
        ++joints;
        scores.assign(vocabulary, 0.0f);
        scores[best(f, steps.back(), call)] = 1.0f;
        return scores;
    }

private:
    std::vector<float> scores;
    int lastFrame = -1, call = 0;
};

} // namespace

TEST(RnntGreedyDecoder, FirstArgmaxTakesTheLowestIndexOnTiesAndSkipsNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(firstArgmax({}), -1);
    EXPECT_EQ(firstArgmax(std::vector<float>{1, 3, 3, 2}), 1);
    EXPECT_EQ(firstArgmax(std::vector<float>{nan, -5, nan, -4}), 3);
    EXPECT_EQ(firstArgmax(std::vector<float>{nan, nan}), 0);
    EXPECT_EQ(firstArgmax(std::vector<float>{-inf, std::numeric_limits<float>::lowest()}), 0);
}

// Blank is 4. Frame 0 emits 1 then 2; frame 1 never yields blank and stops at the cap of
// 3; frame 2 emits nothing. The prediction network runs once to prime and once per token.
TEST(RnntGreedyDecoder, PrimesWithBlankStepsPerTokenAndCapsAFrame) {
    ScriptedRunner runner;
    runner.best = [](int frame, std::int64_t last, int) {
        if (frame == 0)
            return last == 4 ? 1 : last == 1 ? 2 : 4;
        return frame == 1 ? 3 : 4;
    };
    const std::vector<float> frames{0, 1, 2};
    EXPECT_EQ(rnntGreedyDecode(runner, {frames, 1, 3}, 4, 3),
              (std::vector<std::int64_t>{1, 2, 3, 3, 3}));
    EXPECT_EQ(runner.steps, (std::vector<std::int64_t>{4, 1, 2, 3, 3, 3}));
    EXPECT_EQ(runner.joints, 3 + 3 + 1);
}
