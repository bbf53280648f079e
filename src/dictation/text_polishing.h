#pragma once

#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "base/config.h"

namespace talvoro {

// What a style edit gave: the edited text (nothing keeps the text as recognised), a note for
// the menu and the time it took.
struct PolishOutcome {
    std::optional<std::string> text;
    std::string note;
    int ms = 0;
    bool operator==(const PolishOutcome&) const = default;
};

// A style editor for recognised text. polished blocks; it runs off the main thread and
// answers early when the stop token is triggered.
class TextPolishing {
public:
    virtual ~TextPolishing() = default;
    virtual bool isAvailable() const = 0;
    virtual PolishOutcome polished(const std::string& text, std::stop_token stop = {}) = 0;
};

// This build edits nothing.
class NoPolish : public TextPolishing {
public:
    bool isAvailable() const override { return false; }
    PolishOutcome polished(const std::string& text, std::stop_token stop = {}) override;
};

std::shared_ptr<TextPolishing> makePolisher(const Config& config);

} // namespace talvoro
