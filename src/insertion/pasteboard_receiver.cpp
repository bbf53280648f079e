#include "insertion/pasteboard_receiver.h"

#include <chrono>

namespace talvoro {

PasteboardReceiver::~PasteboardReceiver() {
    if (reader.joinable())
        reader.join();
}

void PasteboardReceiver::start() {
    reader = std::thread([this] {
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        got = pasteboard.string();
    });
}

std::optional<std::string> PasteboardReceiver::received() {
    if (reader.joinable())
        reader.join();
    return got;
}

} // namespace talvoro
