#include "recognition/gigaam_runner.h"

#include <algorithm>

#include "recognition/local_recognition_error.h"
#include "recognition/ort_session.h"

namespace talvoro {

namespace {

enum DecoderInput : std::size_t { tokenInput, hInput, cInput };
enum DecoderOutput : std::size_t { decOutput, hOutput, cOutput };
enum JointInput : std::size_t { encInput, predictionInput };

std::vector<std::int64_t> stateShape(std::size_t size) {
    return {1, 1, static_cast<std::int64_t>(size)};
}

// The published export names the decoder's states "h.1"/"c.1" → "h"/"c", GigaAM's current
// export "hi"/"ci" → "ho"/"co"; any other naming is taken by position.
std::string nameOf(const std::vector<std::string>& names, std::initializer_list<const char*> known,
                   std::size_t position, const char* fallback) {
    for (const char* name : known)
        if (std::find(names.begin(), names.end(), name) != names.end())
            return name;
    return position < names.size() ? names[position] : fallback;
}

std::vector<std::string> decoderInputs(const ORT::Session& decoder) {
    const auto& names = decoder.inputNames();
    return {nameOf(names, {"x"}, tokenInput, "x"), nameOf(names, {"h.1", "hi"}, hInput, "h.1"),
            nameOf(names, {"c.1", "ci"}, cInput, "c.1")};
}

std::vector<std::string> decoderOutputs(const ORT::Session& decoder) {
    const auto& names = decoder.outputNames();
    return {nameOf(names, {"dec"}, decOutput, "dec"), nameOf(names, {"h", "ho"}, hOutput, "h"),
            nameOf(names, {"c", "co"}, cOutput, "c")};
}

} // namespace

GigaAMRunner::GigaAMRunner(ORT::Session& decoder, ORT::Session& joint, std::string decoderFile,
                           const ORT::RunOptions& options)
    : decoderFile(std::move(decoderFile)), options(options),
      decoderRun(decoder, decoderInputs(decoder), decoderOutputs(decoder)),
      jointRun(joint, {"enc", "dec"}, {"joint"}) {
    decoderRun.lend(tokenInput, &token, {1, 1});
    resetState();
}

void GigaAMRunner::resetState() {
    h.assign(stateSize, 0.0f);
    c.assign(stateSize, 0.0f);
    decoderRun.lend(hInput, h.data(), stateShape(h.size()));
    decoderRun.lend(cInput, c.data(), stateShape(c.size()));
}

void GigaAMRunner::step(std::int64_t next) {
    token = next;
    decoderRun.run(true, &options);
    ++decoderRuns;
    if (!decoderRun.has(decOutput) || !decoderRun.has(hOutput) || !decoderRun.has(cOutput))
        throw LocalRecognitionError::brokenModel(decoderFile, "не отдал состояние");
    const std::span<const float> dec = decoderRun.floats(decOutput);
    if (dec.size() != prediction.size()) {
        prediction.assign(dec.begin(), dec.end());
        lendPrediction();
    } else {
        std::copy(dec.begin(), dec.end(), prediction.begin());
    }
    copyState(hOutput, h, hInput);
    copyState(cOutput, c, cInput);
}

// The state goes back in as the next step's input; the buffers are lent again only when
// the model's state has another size than the one lent.
void GigaAMRunner::copyState(std::size_t output, std::vector<float>& into, std::size_t input) {
    const std::span<const float> values = decoderRun.floats(output);
    if (values.size() == into.size()) {
        std::copy(values.begin(), values.end(), into.begin());
        return;
    }
    into.assign(values.begin(), values.end());
    decoderRun.lend(input, into.data(), decoderRun.shape(output));
}

void GigaAMRunner::lendPrediction() {
    jointRun.lend(predictionInput, prediction.data(),
                  {1, static_cast<std::int64_t>(prediction.size()), 1});
}

std::span<const float> GigaAMRunner::joint(std::span<const float> frame) {
    if (frame.size() != frameValues.size()) {
        frameValues.resize(frame.size());
        jointRun.lend(encInput, frameValues.data(),
                      {1, static_cast<std::int64_t>(frame.size()), 1});
    }
    std::copy(frame.begin(), frame.end(), frameValues.begin());
    jointRun.run(true, &options);
    ++jointRuns;
    if (!jointRun.has(0))
        return {};
    try {
        return jointRun.floats(0);
    } catch (const ORT::Failure& failure) {
        // Not floats, or nothing at all: an empty answer skips the frame, integers are
        // taken as scores.
        if (failure.kind() != ORT::Failure::Kind::shape)
            throw;
        const auto dimensions = jointRun.shape(0);
        if (std::find(dimensions.begin(), dimensions.end(), 0) != dimensions.end())
            return {};
        converted = jointRun.tensor(0).floats();
        return converted;
    }
}

} // namespace talvoro
