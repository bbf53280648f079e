#include "commands/stop_signals.h"

namespace talvoro {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
    stopRequested = 1;
}

} // namespace

StopSignals::StopSignals() {
    stopRequested = 0;
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
}

bool StopSignals::requested() const {
    return stopRequested != 0;
}

} // namespace talvoro
