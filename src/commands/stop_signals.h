#pragma once

#include <csignal>

namespace talvoro {

// While it lives, Ctrl-C and SIGTERM only raise a flag that a command's loop polls; the
// previous handling comes back afterwards. One at a time.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool requested() const;

private:
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
};

} // namespace talvoro
