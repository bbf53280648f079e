#pragma once

#include "base/serial_queue.h"
#include "insertion/focus_source.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace talvoro {

// The role names used for focus verdicts, from an AT-SPI role name ("push button" → "AXButton").
// `singleLine` marks a one-line "text" element (SINGLE_LINE, or at least not MULTI_LINE: Qt sets
// neither on a QLineEdit), which is an input field rather than a text area.
std::string axRoleForAtspiRole(const std::string& atspiRole, bool singleLine = false);

// The focused element as AT-SPI reports it. libatspi is not thread-safe and its calls can stall
// on an application that stopped answering, so every lookup runs on one thread of its own
// ("atspi") and the caller waits at most `lookupBudget` for it.
class AtspiFocusSource : public FocusSource {
public:
    static constexpr std::chrono::milliseconds lookupBudget{1500};

    AtspiFocusSource();
    ~AtspiFocusSource() override;

    bool available() override;
    std::optional<Paster::Focus> systemFocus(std::vector<std::string>& notes) override;
    std::optional<Paster::Focus> applicationFocus(std::int64_t pid,
                                                  std::vector<std::string>& notes) override;
    void wakeReporting(std::int64_t pid) override;

    struct Answer {
        std::optional<Paster::Focus> focus;
        std::string note; // why there is no focus
    };

private:
    Answer bounded(std::function<Answer()> lookup);

    std::shared_ptr<SerialQueue> queue;
};

} // namespace talvoro
