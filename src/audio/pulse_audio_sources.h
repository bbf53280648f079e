#pragma once

#include "audio/audio_sources.h"

namespace talvoro {

// Lists PulseAudio's (or PipeWire's) sources over a short-lived connection of its own; gives
// up after a second when the server does not answer.
class PulseAudioSources final : public AudioSources {
public:
    AudioSourceList list() override;
};

} // namespace talvoro
