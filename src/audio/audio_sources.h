#pragma once

#include <string>
#include <vector>

namespace talvoro {

// One recording source of the sound server, by the name settings keep and the description
// people read.
struct AudioSource {
    std::string name;
    std::string description;
    bool operator==(const AudioSource&) const = default;
};

struct AudioSourceList {
    bool serverAnswers = false;
    std::string defaultName;          // the server's default source; empty when it has none
    std::vector<AudioSource> sources; // microphones first, then monitors of outputs
    bool operator==(const AudioSourceList&) const = default;

    const AudioSource* find(const std::string& name) const {
        for (const AudioSource& source : sources)
            if (source.name == name)
                return &source;
        return nullptr;
    }
};

// The sound server's recording sources, asked afresh at every call.
class AudioSources {
public:
    virtual ~AudioSources() = default;
    virtual AudioSourceList list() = 0;
};

} // namespace talvoro
