#pragma once

#include <mutex>

#include "audio/audio_sources.h"

namespace talvoro {

// The sources a test sets, as they are at each call.
class FixedAudioSources final : public AudioSources {
public:
    void set(AudioSourceList sources) {
        std::lock_guard guard(lock);
        current = std::move(sources);
    }
    AudioSourceList list() override {
        std::lock_guard guard(lock);
        return current;
    }

private:
    std::mutex lock;
    AudioSourceList current; // guarded by lock
};

} // namespace talvoro
