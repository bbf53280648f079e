#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

// The runtime's own types, declared the way its C header declares them, so that code above
// this layer never sees that header.
struct OrtApi;
struct OrtEnv;
struct OrtStatus;
struct OrtValue;
struct OrtMemoryInfo;

namespace talvoro::ORT {

// The runtime's function table (C API version 29) and the process-wide environment, created
// once on first use. Neither is ever released.
const OrtApi& api();
OrtEnv* env();
// CPU memory info shared by every tensor the layer lends to the runtime.
const OrtMemoryInfo* cpuMemory();

// A runtime that cannot give its function table or environment: nothing can be recognised.
// what() is the sentence the user sees.
class Unavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Failure : public std::runtime_error {
public:
    enum class Kind { status, shape };

    Failure(Kind kind, const std::string& message);
    static Failure status(const std::string& message) { return {Kind::status, message}; }
    static Failure shape(const std::string& message) { return {Kind::shape, message}; }

    Kind kind() const { return kind_; }
    // The runtime's message without the "onnxruntime: " prefix.
    const std::string& message() const { return message_; }

private:
    Kind kind_;
    std::string message_;
};

// A plain copy of a tensor: flat row-major elements and the dimensions, outermost first.
struct Tensor {
    using Payload = std::variant<std::vector<float>, std::vector<std::int64_t>>;

    Payload payload;
    std::vector<std::int64_t> shape;

    Tensor(std::vector<float> floats, std::vector<std::int64_t> shape)
        : payload(std::move(floats)), shape(std::move(shape)) {}
    Tensor(std::vector<std::int64_t> ints, std::vector<std::int64_t> shape)
        : payload(std::move(ints)), shape(std::move(shape)) {}

    bool holdsFloats() const { return std::holds_alternative<std::vector<float>>(payload); }
    // The float payload, or each integer converted to a float.
    std::vector<float> floats() const;
    // The integer payload, or nothing when the payload is floats.
    std::vector<std::int64_t> ints() const;

    // Copies a runtime result; int32 elements are widened to 64 bits.
    static Tensor reading(const OrtValue* value);
    // Wraps the payload without copying; the buffer moves to the process-wide list of lent
    // inputs and stays alive there until releaseInputs(). The caller releases the value.
    OrtValue* makeValue() &&;
};

// Forgets every input buffer lent to the runtime by Session::run.
void releaseInputs();
// How many input buffers are lent right now.
std::size_t lentInputs();

// True when status is no error; otherwise journals "onnxruntime: " + message, frees the
// status and answers false.
bool check(OrtStatus* status);
// Nothing when status is no error; otherwise frees it and throws Failure::status.
void demand(OrtStatus* status);

} // namespace talvoro::ORT
