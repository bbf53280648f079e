#pragma once

#include <optional>
#include <string>

#include "commands/self_check.h"

namespace talvoro {

struct OfflineModel {
    std::string folder;
    bool testModel = false; // the build's generated model: it hears tones, not speech
};

// The sentence offlinetest has spoken for the real model.
extern const char* const offlineSentence;

// The recogniser's checks on `model`: recognition, the words heard, the cut at a whole window,
// and the live display over a recording that grows. The recording is `given` when there is
// one, else made at `madePath`: the sentence spoken by espeak-ng for the real model, known
// tones for the test model.
void checkOfflineModel(SelfCheck& self, const OfflineModel& model,
                       const std::optional<std::string>& given, const std::string& madePath);

} // namespace talvoro
