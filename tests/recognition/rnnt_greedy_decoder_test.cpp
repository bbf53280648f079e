#include "recognition/rnnt_greedy_decoder.h"

#include <gtest/gtest.h>

#include <limits>

using namespace talvoro;

// Decoding itself (priming, a step per token, the per-frame cap, frames without scores) is
// checked end to end on the generated test model in gigaam_model_test.
TEST(RnntGreedyDecoder, FirstArgmaxTakesTheLowestIndexOnTiesAndSkipsNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(firstArgmax({}), -1);
    EXPECT_EQ(firstArgmax(std::vector<float>{1, 3, 3, 2}), 1);
    EXPECT_EQ(firstArgmax(std::vector<float>{nan, -5, nan, -4}), 3);
    EXPECT_EQ(firstArgmax(std::vector<float>{nan, nan}), 0);
    EXPECT_EQ(firstArgmax(std::vector<float>{-inf, std::numeric_limits<float>::lowest()}), 0);
}
