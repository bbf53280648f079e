#pragma once

// Owning handles for runtime objects. Only the layer's own sources include this header.

#include <memory>

#include <onnxruntime_c_api.h>

#include "recognition/ort.h"

namespace talvoro::ORT {

template <typename Object, void (*OrtApi::*release)(Object*)> struct Releaser {
    void operator()(Object* object) const {
        if (object)
            (api().*release)(object);
    }
};

template <typename Object, void (*OrtApi::*release)(Object*)>
using Owned = std::unique_ptr<Object, Releaser<Object, release>>;

using OwnedOptions = Owned<OrtSessionOptions, &OrtApi::ReleaseSessionOptions>;
using OwnedSession = Owned<OrtSession, &OrtApi::ReleaseSession>;
using OwnedValue = Owned<OrtValue, &OrtApi::ReleaseValue>;
using OwnedTypeInfo = Owned<OrtTensorTypeAndShapeInfo, &OrtApi::ReleaseTensorTypeAndShapeInfo>;
using OwnedMemoryInfo = Owned<OrtMemoryInfo, &OrtApi::ReleaseMemoryInfo>;

// A string the runtime allocated with the default allocator.
class AllocatedName {
public:
    AllocatedName(OrtAllocator* allocator, char* text) : allocator(allocator), text(text) {}
    ~AllocatedName() {
        if (text)
            allocator->Free(allocator, text);
    }
    AllocatedName(const AllocatedName&) = delete;
    AllocatedName& operator=(const AllocatedName&) = delete;
    const char* get() const { return text; }

private:
    OrtAllocator* allocator;
    char* text;
};

} // namespace talvoro::ORT
