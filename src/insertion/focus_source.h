#pragma once

#include "insertion/focus.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvoro {

// Where the focused element comes from (AT-SPI on Linux, a scripted one in tests).
// Any thread; every call is bounded in time even when an application does not answer.
class FocusSource {
public:
    virtual ~FocusSource() = default;
    // Whether focus can be read at all (AT-SPI: the accessibility bus is reachable).
    virtual bool available() = 0;
    // The focused element of the active application's active window. When none can be found,
    // appends one short note on why to `notes` and returns nothing.
    virtual std::optional<Paster::Focus> systemFocus(std::vector<std::string>& notes) = 0;
    // The focused element inside the application with this process id; same rule for `notes`.
    virtual std::optional<Paster::Focus> applicationFocus(std::int64_t pid,
                                                          std::vector<std::string>& notes) = 0;
    // Asks toolkits to start exporting their accessibility trees. Errors are ignored.
    virtual void wakeReporting(std::int64_t pid) = 0;
};

} // namespace talvoro
