#pragma once

#include <memory>
#include <string>

#include "base/config.h"
#include "base/dictation_engine.h"
#include "recognition/dictation_transcriber.h"

namespace talvoro {

// The engine choice. The preference "dictationEngine" lives in a QSettings file in the
// configuration folder; this build always recognises locally whatever it holds.
class DictationEngineStore {
public:
    DictationEngineStore() = delete;

    static constexpr const char* preferenceKey = "dictationEngine";

    static DictationEngine current(const Config& config);
    static void set(DictationEngine engine);
    // The stored preference, when it parses.
    static std::optional<DictationEngine> stored();
    static std::string modelFolder(const Config& config);
    // Whether a dictation on this engine may stream its audio to the server while recording:
    // only the server engine, and only when the settings allow streaming.
    static bool streamAllowed(const Config& config, DictationEngine engine);
    // The local recogniser when its model folder is usable; nothing otherwise.
    static std::shared_ptr<DictationTranscriber> gigaam(const Config& config);

    static std::string preferencesPath();
};

// The recogniser when the model is usable, else MissingLocalModel.
std::shared_ptr<DictationTranscriber> dictationTranscriber(const Config& config);

} // namespace talvoro
