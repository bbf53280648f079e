#pragma once

#include <optional>
#include <string>
#include <utility>

namespace talvoro::Paster {

// What the accessibility layer says about the element with the keyboard focus.
struct Focus {
    std::optional<std::string> role;
    std::optional<std::string> subrole;
    bool missing = false;              // no focused element could be obtained at all
    std::optional<std::string> detail; // why it is missing; absent when an element was found

    std::string note() const;

    static Focus missingBecause(std::string why) { return Focus{{}, {}, true, std::move(why)}; }
    bool operator==(const Focus&) const = default;
};

} // namespace talvoro::Paster
