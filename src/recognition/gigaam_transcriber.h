#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "recognition/dictation_transcriber.h"
#include "recognition/gigaam_piece.h"
#include "recognition/local_dictation_stream.h"
#include "recognition/ort_session.h"

namespace talvoro {

class GigaAMModel;
struct GigaAMTiming;

// The local recogniser: GigaAM v3 RNN-T (int8) in four ONNX parts, decoded greedily window
// by window. One instance serves the process; the model loads on first use and stays.
class GigaAMTranscriber : public DictationTranscriber, public LocalDictationStream::Engine {
public:
    using Piece = GigaAMPiece;
    static constexpr const char* version = "GigaAM v3 RNN-T int8";
    static constexpr int maxSymbolsPerFrame = 10;
    static constexpr std::int64_t sampleRate = 16000;
    // Windows shorter than a third of a second are not decoded.
    static constexpr std::int64_t shortestWindow = 5333;

    struct Files {
        struct Required {
            const char* name;
            std::uintmax_t minimumBytes;
        };
        static constexpr const char* preprocessor = "gigaam-v3-preprocessor.onnx";
        static constexpr const char* encoder = "gigaam-v3-encoder.onnx";
        static constexpr const char* decoder = "gigaam-v3-decoder.onnx";
        static constexpr const char* joint = "gigaam-v3-joint.onnx";
        static constexpr const char* vocabulary = "gigaam-v3-vocab.txt";
        static constexpr std::array<Required, 4> required = {
            {{encoder, 104857600}, {decoder, 512000}, {joint, 512000}, {vocabulary, 1024}}};
    };

    explicit GigaAMTranscriber(std::string folder);
    ~GigaAMTranscriber() override;

    // Every required file present and large enough, and a preprocessor found.
    static bool isUsable(const std::string& folder);
    // The preprocessor in the model folder, else in the program's data folder
    // (share/talvoro/models, then share/talvoro) installed beside the executable's folder or,
    // in a build tree, inside it.
    static std::optional<std::string> preprocessor(const std::string& folder);
    static std::optional<std::string> preprocessor(const std::string& folder,
                                                   const std::string& executableFolder);
    static std::optional<GigaAMCut> edge(const std::vector<Piece>& pieces);
    // What of the model is not on disk, in words; nothing when every required file is there
    // at its size (the preprocessor aside).
    static std::optional<std::string> missingPart(const std::string& folder);
    // Intra-operation threads of the encoder: half the processors, at least 2.
    static int encoderThreads();

    // A missing model throws LocalModelMissing, a model file that does not load and a recording
    // not in 16 kHz mono throw LocalRecognitionError, a stop TranscriptionCancelled.
    std::string transcribe(const std::string& path, std::stop_token stop = {}) override;
    std::string identity() const override { return version; }
    void prepare(std::stop_token stop = {}) override;
    // How many times the sessions were opened whole.
    int loads() const { return loads_.load(); }
    std::string transcribe(std::span<const float> samples, std::stop_token stop = {}) override;
    // The text of all the samples and, when mayCut and some window ended before the end of
    // the samples, the finished part.
    struct Look {
        std::string text;
        std::optional<GigaAMCut> cut;
    };
    Look look(std::span<const float> samples, bool mayCut, std::stop_token stop = {});

    // transcribe(samples), adding where the time went to timing.
    std::string transcribeTimed(std::span<const float> samples, GigaAMTiming& timing);

    const std::string& folder() const { return folder_; }

    // Set before use.
    double windowSeconds = 20.0;
    ORT::Session::Where compute = ORT::Session::Where::processor;

private:
    std::vector<Piece> pieces(std::span<const float> samples, std::stop_token stop,
                              GigaAMTiming* timing);
    void load(); // with lock held

    const std::string folder_;
    std::mutex lock;                    // serialises loading and every decoding pass
    std::unique_ptr<GigaAMModel> model; // guarded by lock; present once loaded whole
    std::atomic<int> loads_ = 0;
};

} // namespace talvoro
