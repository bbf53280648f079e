#pragma once

#include <map>
#include <string>
#include <vector>

#include "recognition/ort.h"

struct OrtSession;

namespace talvoro::ORT {

class RunOptions;

// One opened model file.
class Session {
public:
    enum class Where { processor, neural };

    // prepacked: the runtime also keeps the weights laid out for its matrix kernels, a little
    // faster to run and a second copy of most of them in memory; asStored: one copy only.
    enum class Weights { prepacked, asStored };

    // threads: intra-operation threads. neural asks for the "CoreML" provider and falls back
    // to the processor, with two journal lines, where it cannot be attached.
    Session(const std::string& model, int threads, Where compute,
            Weights weights = Weights::prepacked);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Lends every input (by name) to the runtime, runs, and copies the requested outputs.
    // An output the runtime leaves empty is missing from the answer. The lent buffers stay
    // alive until releaseInputs(); a caller that runs and releases holds one lock for both.
    // With options, their terminate() ends the run.
    std::map<std::string, Tensor> run(std::map<std::string, Tensor> inputs,
                                      const std::vector<std::string>& outputs,
                                      const RunOptions* options = nullptr);

    const std::vector<std::string>& inputNames() const { return inputNames_; }
    const std::vector<std::string>& outputNames() const { return outputNames_; }

    OrtSession* handle() const { return session; }

private:
    void readNames();

    OrtSession* session = nullptr; // owned
    std::vector<std::string> inputNames_;
    std::vector<std::string> outputNames_;
};

} // namespace talvoro::ORT
