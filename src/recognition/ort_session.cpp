#include "recognition/ort_session.h"

#include <filesystem>

#include "base/journal.h"
#include "recognition/ort_handles.h"
#include "recognition/ort_run_options.h"

namespace talvoro::ORT {

namespace {

void attachNeuralProvider(OrtSessionOptions* options, const std::string& model) {
    std::filesystem::path cache = std::filesystem::path(model).parent_path() / "coreml";
    std::error_code ignored;
    std::filesystem::create_directories(cache, ignored);
    std::string cachePath = cache.string();
    const char* keys[] = {"ModelFormat", "MLComputeUnits", "ModelCacheDirectory"};
    const char* values[] = {"MLProgram", "ALL", cachePath.c_str()};
    if (!check(api().SessionOptionsAppendExecutionProvider(options, "CoreML", keys, values, 3)))
        Journal::shared().note("onnxruntime: нейромодуль недоступен, считаю на процессоре");
}

// Releases every value in the list when it goes out of scope.
struct ValueList {
    std::vector<OrtValue*> values;
    explicit ValueList(std::size_t size = 0) : values(size, nullptr) {}
    ~ValueList() {
        for (OrtValue* value : values)
            if (value)
                api().ReleaseValue(value);
    }
    ValueList(const ValueList&) = delete;
    ValueList& operator=(const ValueList&) = delete;
};

} // namespace

Session::Session(const std::string& model, int threads, Where compute, Weights weights) {
    OrtEnv* environment = env();
    OrtSessionOptions* rawOptions = nullptr;
    demand(api().CreateSessionOptions(&rawOptions));
    OwnedOptions options(rawOptions);
    demand(api().SetIntraOpNumThreads(options.get(), threads));
    demand(api().SetSessionGraphOptimizationLevel(options.get(), ORT_ENABLE_ALL));
    // Idle workers would spin after each run and take the processors the next stage needs
    // (the encoder after the preprocessor, the greedy loop after the encoder), and on a busy
    // desktop spinning only burns the share the work itself needs.
    demand(api().AddSessionConfigEntry(options.get(), "session.intra_op.allow_spinning", "0"));
    demand(api().AddSessionConfigEntry(options.get(), "session.inter_op.allow_spinning", "0"));
    if (weights == Weights::asStored)
        demand(api().AddSessionConfigEntry(options.get(), "session.disable_prepacking", "1"));
    if (compute == Where::neural)
        attachNeuralProvider(options.get(), model);
    OrtSession* made = nullptr;
    demand(api().CreateSession(environment, model.c_str(), options.get(), &made));
    if (!made)
        throw Failure::status("сессия не создалась: " + model);
    session = made;
    try {
        readNames();
    } catch (...) {
        api().ReleaseSession(session);
        throw;
    }
}

Session::~Session() {
    api().ReleaseSession(session);
}

void Session::readNames() {
    OrtAllocator* allocator = nullptr;
    demand(api().GetAllocatorWithDefaultOptions(&allocator));
    if (!allocator)
        throw Failure::status("нет аллокатора");
    auto collect = [&](auto count, auto name, std::vector<std::string>& into) {
        std::size_t n = 0;
        demand((api().*count)(session, &n));
        for (std::size_t i = 0; i < n; ++i) {
            char* raw = nullptr;
            demand((api().*name)(session, i, allocator, &raw));
            AllocatedName text(allocator, raw);
            if (text.get())
                into.emplace_back(text.get());
        }
    };
    collect(&OrtApi::SessionGetInputCount, &OrtApi::SessionGetInputName, inputNames_);
    collect(&OrtApi::SessionGetOutputCount, &OrtApi::SessionGetOutputName, outputNames_);
}

std::map<std::string, Tensor> Session::run(std::map<std::string, Tensor> inputs,
                                           const std::vector<std::string>& outputs,
                                           const RunOptions* options) {
    std::vector<const char*> inputNames;
    ValueList inputValues;
    for (auto& [name, tensor] : inputs) {
        inputNames.push_back(name.c_str());
        inputValues.values.push_back(std::move(tensor).makeValue());
    }
    std::vector<const char*> outputNames;
    for (const std::string& name : outputs)
        outputNames.push_back(name.c_str());
    ValueList outputValues(outputs.size());
    demand(api().Run(session, options ? options->handle() : nullptr, inputNames.data(),
                     inputValues.values.data(), inputNames.size(), outputNames.data(),
                     outputNames.size(), outputValues.values.data()));
    std::map<std::string, Tensor> results;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (outputValues.values[i])
            results.emplace(outputs[i], Tensor::reading(outputValues.values[i]));
    return results;
}

} // namespace talvoro::ORT
