#include "recognition/rnnt_greedy_decoder.h"

#include <limits>

namespace talvoro {

std::ptrdiff_t firstArgmax(std::span<const float> scores) {
    if (scores.empty())
        return -1;
    std::ptrdiff_t best = 0;
    float bestValue = std::numeric_limits<float>::lowest();
    for (std::size_t i = 0; i < scores.size(); ++i) {
        if (scores[i] > bestValue) {
            bestValue = scores[i];
            best = static_cast<std::ptrdiff_t>(i);
        }
    }
    return best;
}

std::vector<std::int64_t> rnntGreedyDecode(RNNTRunner& runner, const EncodedFrames& frames,
                                           std::int64_t blank, int maxSymbolsPerFrame) {
    std::vector<std::int64_t> tokens;
    runner.resetState();
    runner.step(blank);
    for (std::size_t t = 0; t < frames.count; ++t) {
        const auto frame = frames.values.subspan(t * frames.dimension, frames.dimension);
        for (int emitted = 0; emitted < maxSymbolsPerFrame; ++emitted) {
            const std::ptrdiff_t best = firstArgmax(runner.joint(frame));
            if (best < 0 || best == blank)
                break;
            tokens.push_back(best);
            runner.step(best);
        }
    }
    return tokens;
}

} // namespace talvoro
