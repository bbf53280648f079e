#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "recognition/gigaam_vocabulary.h"
#include "recognition/ort_run_options.h"
#include "recognition/ort_session.h"

namespace talvoro {

class GigaAMRunner;

// Where the time of decoding windows went; added to by every decode given one.
struct GigaAMTiming {
    double preprocessorSeconds = 0;
    double encoderSeconds = 0;
    double decodingSeconds = 0; // everything after the encoder
    // Processor time of the whole process (all threads) in the same stages: the work done,
    // whatever else the machine was busy with.
    double preprocessorCpuSeconds = 0;
    double encoderCpuSeconds = 0;
    double decodingCpuSeconds = 0;
    std::int64_t decoderRuns = 0;
    std::int64_t jointRuns = 0;
    std::int64_t frames = 0;
};

// The four opened GigaAM parts and the vocabulary: a whole model, or nothing at all.
//
// preprocessor: "waveforms" float [1, N], "waveforms_lens" int64 [1]
//               → "features" float [1, 64, F], "features_lens" int64 [1]
// encoder:      "audio_signal" = features as they came, "length" = features_lens [1]
//               → "encoded" float [1, D, T], "encoded_len" int64 [1]
// decoder and joint: see GigaAMRunner.
class GigaAMModel {
public:
    struct Paths {
        std::string preprocessor, encoder, decoder, joint, vocabulary;
    };

    // Opens every part (the encoder on compute with encoderThreads; the small decoder and
    // joint on one thread each, where threads only cost time). A part that does not open
    // throws LocalRecognitionError naming its file.
    GigaAMModel(const Paths& paths, ORT::Session::Where compute, int encoderThreads);
    ~GigaAMModel();
    // Packed, the encoder's weights would cost about 100 MB more for about a tenth less
    // encoder time; the small decoder and joint run twice as fast packed, for little memory.
    static constexpr ORT::Session::Weights encoderWeights = ORT::Session::Weights::asStored;
    GigaAMModel(const GigaAMModel&) = delete;
    GigaAMModel& operator=(const GigaAMModel&) = delete;

    // The raw text of one window (before filler removal). Callers serialise decodes. A stop
    // ends the runtime's work in flight and throws TranscriptionCancelled; a part whose
    // output does not fit throws LocalRecognitionError naming its file.
    std::string decode(std::span<const float> samples, int maxSymbolsPerFrame,
                       GigaAMTiming* timing = nullptr, std::stop_token stop = {});

    const GigaAMVocabulary& vocabulary() const { return vocabulary_; }

private:
    std::string decodeRunning(std::span<const float> samples, int maxSymbolsPerFrame,
                              GigaAMTiming* timing);
    // Features → encoder → frames transposed to [T, D] in `frames`; returns (D, T).
    std::pair<std::size_t, std::size_t> encode(std::span<const float> samples,
                                               GigaAMTiming* timing);

    const Paths paths;
    ORT::RunOptions runOptions; // shared by every run; a stop terminates them
    ORT::Session preprocessor;
    ORT::Session encoder;
    ORT::Session decoder;
    ORT::Session joint;
    GigaAMVocabulary vocabulary_;
    std::unique_ptr<GigaAMRunner> runner;
    std::vector<float> frames; // the last window's encoder output, frame after frame
};

} // namespace talvoro
