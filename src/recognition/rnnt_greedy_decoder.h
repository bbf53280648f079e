#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talvoro {

// The two small networks that greedy RNN-T decoding drives, apart from how they are run.
class RNNTRunner {
public:
    virtual ~RNNTRunner() = default;

    // Zeroes the prediction network's state (h and c, each [1, 1, 320]).
    virtual void resetState() = 0;
    // Feeds one token ("x" [1, 1]) to the prediction network; its output ("dec" [1, 320, 1])
    // becomes the current prediction and its "h", "c" replace the state.
    virtual void step(std::int64_t token) = 0;
    // Scores of every token id ("joint", one per id) for one encoder frame ("enc" [1, D, 1],
    // the D values contiguous) joined with the current prediction. Empty when the joint gave
    // nothing; the span stays valid until the next call.
    virtual std::span<const float> joint(std::span<const float> frame) = 0;
};

// Frames laid out frame by frame: frame t is values [t * dimension, (t + 1) * dimension).
struct EncodedFrames {
    std::span<const float> values;
    std::size_t dimension = 0;
    std::size_t count = 0;
};

// The first index of the largest value; -1 for no values. Scores that are all NaN or −∞
// give index 0.
std::ptrdiff_t firstArgmax(std::span<const float> scores);

// Greedy RNN-T decoding: prime the prediction network with blank, then per frame emit the
// best token until blank wins or maxSymbolsPerFrame tokens were emitted for that frame.
std::vector<std::int64_t> rnntGreedyDecode(RNNTRunner& runner, const EncodedFrames& frames,
                                           std::int64_t blank, int maxSymbolsPerFrame);

} // namespace talvoro
