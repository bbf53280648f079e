#pragma once

#include <optional>
#include <string>

namespace talvoro {

// The running transcript that live recognition shows in the pill.
struct DictationSnapshot {
    std::string text;
    // A tentative continuation a streaming engine may still revise; the local stream
    // leaves it absent.
    std::optional<std::string> interim;

    bool isEmpty() const { return text.empty() && (!interim || interim->empty()); }

    bool operator==(const DictationSnapshot&) const = default;
};

} // namespace talvoro
