#include "recognition/ort.h"

#include <cstring>
#include <mutex>

#include "base/journal.h"
#include "recognition/ort_handles.h"

namespace talvoro::ORT {

namespace {

std::string takeMessage(OrtStatus* status) {
    const char* text = api().GetErrorMessage(status);
    std::string message = text && *text ? text : "неизвестно";
    api().ReleaseStatus(status);
    return message;
}

// Buffers lent to the runtime as input tensors; guarded by lentLock.
std::mutex lentLock;
std::vector<Tensor::Payload> lent;

std::int64_t elementCount(const std::vector<std::int64_t>& shape, std::size_t available) {
    // A shape that claims more elements than the buffer holds would let the runtime read
    // past its end.
    std::int64_t count = 1;
    bool fits = true;
    for (std::int64_t dimension : shape)
        fits = fits && dimension >= 0 && !__builtin_mul_overflow(count, dimension, &count);
    if (!fits)
        throw Failure::shape("недопустимая форма тензора");
    if (static_cast<std::uint64_t>(count) > available)
        throw Failure::shape("форма " + std::to_string(count) + " не совпадает с " +
                             std::to_string(available) + " элементами");
    return count;
}

template <typename Element>
std::vector<Element> copyElements(const void* data, std::int64_t count) {
    const auto* first = static_cast<const Element*>(data);
    return std::vector<Element>(first, first + count);
}

} // namespace

const OrtApi& api() {
    static const OrtApi* table = [] {
        const OrtApiBase* base = OrtGetApiBase();
        const OrtApi* found = base ? base->GetApi(29) : nullptr;
        if (!found)
            throw Unavailable("onnxruntime не отдал API");
        return found;
    }();
    return *table;
}

OrtEnv* env() {
    static OrtEnv* environment = [] {
        OrtEnv* made = nullptr;
        check(api().CreateEnv(ORT_LOGGING_LEVEL_ERROR, "ostrel", &made));
        if (!made)
            throw Unavailable("onnxruntime не создал окружение");
        return made;
    }();
    return environment;
}

const OrtMemoryInfo* cpuMemory() {
    static OrtMemoryInfo* info = [] {
        OrtMemoryInfo* made = nullptr;
        demand(api().CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &made));
        return made;
    }();
    return info;
}

Failure::Failure(Kind kind, const std::string& message)
    : std::runtime_error("onnxruntime: " + message), kind_(kind), message_(message) {}

bool check(OrtStatus* status) {
    if (!status)
        return true;
    Journal::shared().note("onnxruntime: " + takeMessage(status));
    return false;
}

void demand(OrtStatus* status) {
    if (status)
        throw Failure::status(takeMessage(status));
}

std::vector<float> Tensor::floats() const {
    if (const auto* values = std::get_if<std::vector<float>>(&payload))
        return *values;
    const auto& ints = std::get<std::vector<std::int64_t>>(payload);
    return std::vector<float>(ints.begin(), ints.end());
}

std::vector<std::int64_t> Tensor::ints() const {
    if (const auto* values = std::get_if<std::vector<std::int64_t>>(&payload))
        return *values;
    return {};
}

Tensor Tensor::reading(const OrtValue* value) {
    OrtTensorTypeAndShapeInfo* rawInfo = nullptr;
    demand(api().GetTensorTypeAndShape(value, &rawInfo));
    OwnedTypeInfo info(rawInfo);
    std::size_t rank = 0;
    demand(api().GetDimensionsCount(info.get(), &rank));
    std::vector<std::int64_t> shape(rank);
    demand(api().GetDimensions(info.get(), shape.data(), rank));
    std::size_t count = 0;
    demand(api().GetTensorShapeElementCount(info.get(), &count));
    ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
    demand(api().GetTensorElementType(info.get(), &type));
    void* data = nullptr;
    demand(api().GetTensorMutableData(const_cast<OrtValue*>(value), &data));
    if (!data)
        throw Failure::shape("пустой тензор");
    auto n = static_cast<std::int64_t>(count);
    switch (type) {
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT:
        return Tensor(copyElements<float>(data, n), std::move(shape));
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64:
        return Tensor(copyElements<std::int64_t>(data, n), std::move(shape));
    case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32: {
        std::vector<std::int32_t> narrow = copyElements<std::int32_t>(data, n);
        return Tensor(std::vector<std::int64_t>(narrow.begin(), narrow.end()), std::move(shape));
    }
    default:
        throw Failure::shape("неожиданный тип тензора: " + std::to_string(static_cast<int>(type)));
    }
}

OrtValue* Tensor::makeValue() && {
    void* data = nullptr;
    std::size_t bytes = 0;
    ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
    if (auto* values = std::get_if<std::vector<float>>(&payload)) {
        elementCount(shape, values->size());
        data = values->data();
        bytes = values->size() * sizeof(float);
    } else {
        auto& ints = std::get<std::vector<std::int64_t>>(payload);
        elementCount(shape, ints.size());
        data = ints.data();
        bytes = ints.size() * sizeof(std::int64_t);
        type = ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64;
    }
    OrtValue* value = nullptr;
    demand(api().CreateTensorWithDataAsOrtValue(cpuMemory(), data, bytes, shape.data(),
                                                shape.size(), type, &value));
    OwnedValue owned(value);
    // Moving a vector keeps its heap buffer, so the pointer the runtime holds stays valid.
    std::lock_guard guard(lentLock);
    lent.push_back(std::move(payload));
    return owned.release();
}

void releaseInputs() {
    std::lock_guard guard(lentLock);
    lent.clear();
}

std::size_t lentInputs() {
    std::lock_guard guard(lentLock);
    return lent.size();
}

} // namespace talvoro::ORT
