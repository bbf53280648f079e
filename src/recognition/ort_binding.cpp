#include "recognition/ort_binding.h"

#include <algorithm>

#include "recognition/ort_handles.h"
#include "recognition/ort_session.h"

namespace talvoro::ORT {

namespace {

std::size_t countOf(const std::vector<std::int64_t>& shape) {
    std::int64_t count = 1;
    for (std::int64_t dimension : shape)
        count *= dimension;
    return count < 0 ? 0 : static_cast<std::size_t>(count);
}

struct Typed {
    ONNXTensorElementDataType type;
    std::size_t count;
    void* data;
};

Typed typed(OrtValue* value) {
    OrtTensorTypeAndShapeInfo* raw = nullptr;
    demand(api().GetTensorTypeAndShape(value, &raw));
    OwnedTypeInfo info(raw);
    Typed answer{};
    demand(api().GetTensorElementType(info.get(), &answer.type));
    demand(api().GetTensorShapeElementCount(info.get(), &answer.count));
    demand(api().GetTensorMutableData(value, &answer.data));
    if (!answer.data)
        throw Failure::shape("пустой тензор");
    return answer;
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

void Binding::run(bool reuseOutputs) {
    if (std::find(inputs.begin(), inputs.end(), nullptr) != inputs.end())
        throw Failure::status("вход не задан");
    if (!reuseOutputs)
        releaseOutputs();
    OrtStatus* status =
        api().Run(session.handle(), nullptr, inputPointers.data(), inputs.data(), inputs.size(),
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

std::span<const float> Binding::floats(std::size_t output) const {
    Typed value = typed(filled(output));
    if (value.type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT)
        throw Failure::shape("неожиданный тип тензора: " + std::to_string(value.type));
    return {static_cast<const float*>(value.data), value.count};
}

std::span<const std::int64_t> Binding::ints(std::size_t output) const {
    Typed value = typed(filled(output));
    if (value.type != ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64)
        throw Failure::shape("неожиданный тип тензора: " + std::to_string(value.type));
    return {static_cast<const std::int64_t*>(value.data), value.count};
}

Tensor Binding::tensor(std::size_t output) const {
    return Tensor::reading(filled(output));
}

} // namespace talvoro::ORT
