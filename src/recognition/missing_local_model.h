#pragma once

#include "recognition/dictation_transcriber.h"

namespace talvoro {

// The engine in use while the model is not downloaded: every recognition fails with
// LocalModelMissing, so the recording is queued and the menu offers the download.
class MissingLocalModel : public DictationTranscriber {
public:
    std::string transcribe(const std::string& path, std::stop_token stop = {}) override;
    std::string identity() const override { return "модель не скачана"; }
};

} // namespace talvoro
