#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recognition/ort_binding.h"
#include "recognition/rnnt_greedy_decoder.h"

namespace talvoro {

namespace ORT {
class RunOptions;
class Session;
} // namespace ORT

// Runs GigaAM's prediction network and joint for greedy decoding. The names, the tensors
// over the buffers below and the output values are made once; a step copies one frame and
// one prediction, nothing else.
//
// decoder: "x" int64 [1, 1], "h.1" float [1, 1, 320], "c.1" float [1, 1, 320]
//          → "dec" float [1, 320, 1] (any layout of 320 values), "h", "c" (the next state);
//          the states may also be named "hi"/"ci" → "ho"/"co", or anything in that order
// joint:   "enc" float [1, D, 1], "dec" float [1, 320, 1] → "joint" float, one per token id
class GigaAMRunner : public RNNTRunner {
public:
    static constexpr std::int64_t stateSize = 320;

    // decoderFile names the decoder in errors; every run uses options.
    GigaAMRunner(ORT::Session& decoder, ORT::Session& joint, std::string decoderFile,
                 const ORT::RunOptions& options);

    void resetState() override;
    void step(std::int64_t token) override;
    std::span<const float> joint(std::span<const float> frame) override;

    std::int64_t decoderRuns = 0;
    std::int64_t jointRuns = 0;

private:
    void copyState(std::size_t output, std::vector<float>& into, std::size_t input);
    void lendPrediction();

    const std::string decoderFile;
    const ORT::RunOptions& options;
    ORT::Binding decoderRun;
    ORT::Binding jointRun;
    std::int64_t token = 0;
    std::vector<float> h;
    std::vector<float> c;
    std::vector<float> prediction;
    std::vector<float> frameValues;
    std::vector<float> converted; // a joint that answers in integers
};

} // namespace talvoro
