#pragma once

#include "insertion/pasteboard.h"

#include <optional>
#include <string>
#include <thread>

namespace talvoro {

// Another application that reads the plain text once, `delay` seconds after `start`, on a thread
// of its own; or never, when not started.
class PasteboardReceiver {
public:
    PasteboardReceiver(Pasteboard& pasteboard, double delay)
        : pasteboard(pasteboard), delay(delay) {}
    ~PasteboardReceiver();
    PasteboardReceiver(const PasteboardReceiver&) = delete;
    PasteboardReceiver& operator=(const PasteboardReceiver&) = delete;

    void start();
    // Waits for the read and returns what it got.
    std::optional<std::string> received();

private:
    Pasteboard& pasteboard;
    const double delay;
    std::thread reader;
    std::optional<std::string> got; // written by `reader`, read after joining it
};

} // namespace talvoro
