#include "recognition/ort_binding.h"

#include <algorithm>

#include "recognition/ort_handles.h"
#include "recognition/ort_run_options.h"
#include "recognition/ort_session.h"

namespace talvoro::ORT {

namespace {

// Elements a shape promises, or 0 for a shape no buffer can hold (the runtime then refuses
// the tensor as too small).
std::size_t countOf(const std::vector<std::int64_t>& shape) {
    std::int64_t count = 1;
    for (std::int64_t dimension : shape)
        if (dimension < 0 || __builtin_mul_overflow(count, dimension, &count) ||
            count > (std::int64_t{1} << 40))
            return 0;
    return static_cast<std::size_t>(count);
}

} // namespace

Binding::Binding(Session& session, std::vector<std::string> inputs,
                 std::vector<std::string> outputs)
    : session(session), inputNames(std::move(inputs)), outputNames(std::move(outputs)) {
    for (const std::string& name : inputNames)
        inputPointers.push_back(name.c_str());
    for (const std::string& name : outputNames)
        outputPointers.push_back(name.c_str());
    this->inputs.assign(inputNames.size(), nullptr);
    this->outputs.assign(outputNames.size(), nullptr);
    views.assign(outputNames.size(), View{});
}

Binding::~Binding() {
    for (OrtValue* value : inputs)
        if (value)
            api().ReleaseValue(value);
    releaseOutputs();
}

void Binding::releaseOutputs() {
    for (OrtValue*& value : outputs) {
        if (value)
            api().ReleaseValue(value);
        value = nullptr;
    }
    views.assign(outputs.size(), View{});
}

void Binding::lend(std::size_t input, float* data, std::vector<std::int64_t> shape) {
    std::size_t bytes = countOf(shape) * sizeof(float);
    lendBytes(input, data, bytes, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, std::move(shape));
}

void Binding::lend(std::size_t input, std::int64_t* data, std::vector<std::int64_t> shape) {
    std::size_t bytes = countOf(shape) * sizeof(std::int64_t);
    lendBytes(input, data, bytes, ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64, std::move(shape));
}

void Binding::lendBytes(std::size_t input, void* data, std::size_t bytes, int type,
                        std::vector<std::int64_t> shape) {
    OrtValue*& slot = inputs.at(input);
    OrtValue* value = nullptr;
    demand(
        api().CreateTensorWithDataAsOrtValue(cpuMemory(), data, bytes, shape.data(), shape.size(),
                                             static_cast<ONNXTensorElementDataType>(type), &value));
    if (slot)
        api().ReleaseValue(slot);
    slot = value;
}

void Binding::run(bool reuseOutputs, const RunOptions* options) {
    if (std::find(inputs.begin(), inputs.end(), nullptr) != inputs.end())
        throw Failure::status("вход не задан");
    if (!reuseOutputs)
        releaseOutputs();
    OrtStatus* status = api().Run(session.handle(), options ? options->handle() : nullptr,
                                  inputPointers.data(), inputs.data(), inputs.size(),
                                  outputPointers.data(), outputPointers.size(), outputs.data());
    if (status) {
        // Results of a failed run are not to be read, and reused values may not fit again.
        releaseOutputs();
        demand(status);
    }
}

OrtValue* Binding::filled(std::size_t output) const {
    OrtValue* value = outputs.at(output);
    if (!value)
        throw Failure::status("нет выхода " + outputNames[output]);
    return value;
}

bool Binding::has(std::size_t output) const {
    return outputs.at(output) != nullptr;
}

std::vector<std::int64_t> Binding::shape(std::size_t output) const {
    OrtTensorTypeAndShapeInfo* raw = nullptr;
    demand(api().GetTensorTypeAndShape(filled(output), &raw));
    OwnedTypeInfo info(raw);
    std::size_t rank = 0;
    demand(api().GetDimensionsCount(info.get(), &rank));
    std::vector<std::int64_t> dimensions(rank);
    demand(api().GetDimensions(info.get(), dimensions.data(), rank));
    return dimensions;
}

const Binding::View& Binding::view(std::size_t output) const {
    OrtValue* value = filled(output);
    View& cached = views[output];
    if (cached.value == value)
        return cached;
    OrtTensorTypeAndShapeInfo* raw = nullptr;
    demand(api().GetTensorTypeAndShape(value, &raw));
    OwnedTypeInfo info(raw);
    ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
    std::size_t count = 0;
    void* data = nullptr;
    demand(api().GetTensorElementType(info.get(), &type));
    demand(api().GetTensorShapeElementCount(info.get(), &count));
    demand(api().GetTensorMutableData(value, &data));
    if (!data)
        throw Failure::shape("пустой тензор");
    cached = View{value, type, count, data};
    return cached;
}

std::span<const float> Binding::floats(std::size_t output) const {
    const View& value = view(output);
    if (value.type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT)
        throw Failure::shape("неожиданный тип тензора: " + std::to_string(value.type));
    return {static_cast<const float*>(value.data), value.count};
}

std::span<const std::int64_t> Binding::ints(std::size_t output) const {
    const View& value = view(output);
    if (value.type != ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64)
        throw Failure::shape("неожиданный тип тензора: " + std::to_string(value.type));
    return {static_cast<const std::int64_t*>(value.data), value.count};
}

Tensor Binding::tensor(std::size_t output) const {
    return Tensor::reading(filled(output));
}

} // namespace talvoro::ORT
