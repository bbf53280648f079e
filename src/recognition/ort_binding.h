#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recognition/ort.h"

namespace talvoro::ORT {

class RunOptions;
class Session;

// A run prepared once and repeated many times (the decoder and the joint run once per
// frame and per emitted token): the names, the input tensors over the caller's memory and the
// output values are made once and reused, so a repeated run allocates nothing of its own.
//
// Inputs are lent: the caller keeps the memory alive and may change its contents between
// runs, never during one. Outputs stay readable until the next run or rebinding.
class Binding {
public:
    Binding(Session& session, std::vector<std::string> inputs, std::vector<std::string> outputs);
    ~Binding();
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    void lend(std::size_t input, float* data, std::vector<std::int64_t> shape);
    void lend(std::size_t input, std::int64_t* data, std::vector<std::int64_t> shape);

    // Throws Failure::status for a runtime error or an input never lent. With reuseOutputs the
    // runtime writes the next results into the previous run's output values; use it only
    // where the output shapes never change from run to run. With options, their terminate()
    // ends the run.
    void run(bool reuseOutputs = false, const RunOptions* options = nullptr);

    // After a successful run: whether the runtime filled output i, its dimensions and its
    // elements in the runtime's memory. floats() and ints() throw Failure::shape when the
    // element type differs (ints() reads int64 only); tensor() copies, widening int32.
    bool has(std::size_t output) const;
    std::vector<std::int64_t> shape(std::size_t output) const;
    std::span<const float> floats(std::size_t output) const;
    std::span<const std::int64_t> ints(std::size_t output) const;
    Tensor tensor(std::size_t output) const;

private:
    void lendBytes(std::size_t input, void* data, std::size_t bytes, int type,
                   std::vector<std::int64_t> shape);
    void releaseOutputs();
    OrtValue* filled(std::size_t output) const;

    Session& session;
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
    std::vector<const char*> inputPointers;
    std::vector<const char*> outputPointers;
    std::vector<OrtValue*> inputs;  // owned; each wraps caller memory
    std::vector<OrtValue*> outputs; // owned; filled by the last run

    // What outputs[i] holds, read once: a reused output keeps its buffer from run to run, so
    // reading it in a loop asks the runtime nothing. Cleared whenever the value is released.
    struct View {
        const OrtValue* value = nullptr;
        int type = 0;
        std::size_t count = 0;
        const void* data = nullptr;
    };
    const View& view(std::size_t output) const;
    mutable std::vector<View> views;
};

} // namespace talvoro::ORT
