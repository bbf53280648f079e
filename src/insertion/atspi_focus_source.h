#pragma once

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
// on an application that stopped answering, so every libatspi call runs on one thread of the
// process ("atspi") and the caller waits at most `lookupBudget` and a call's timeout for it; a
// lookup that does not answer in time, or that finds the thread still busy with an earlier one,
// comes back without a focus and with a note why.
//
// libatspi attaches the direct connections it opens to applications to GLib's default main
// context, so no other thread may iterate that context: the Qt event loop must run without GLib
// (QT_NO_GLIB=1 before the application object is made). Where it does not, lookups are refused
// with a note rather than risk a deadlock inside libdbus.
class AtspiFocusSource : public FocusSource {
public:
    static constexpr std::chrono::milliseconds lookupBudget{1000};

    bool available() override;
    std::optional<Paster::Focus> systemFocus(std::vector<std::string>& notes) override;
    std::optional<Paster::Focus> applicationFocus(std::int64_t pid,
                                                  std::vector<std::string>& notes) override;
    // Through Qt D-Bus on the session bus, not libatspi.
    void wakeReporting(std::int64_t pid) override;

    struct Answer {
        std::optional<Paster::Focus> focus;
        std::string note; // why there is no focus
    };

private:
    Answer bounded(std::function<Answer()> lookup);
};

} // namespace talvoro
