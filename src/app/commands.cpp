#include "app/commands.h"

#include <array>

namespace talvoro {

namespace {

// Dispatch order: pilltest, dictation-menubar, hotkey, gigaamtest, offlinetest, cuttest,
// sampletest, deliverytest, dictateprobe, dictate, paste, pastetest, focustest, focusprobe.
const std::array<CommandEntry, 0> commands = {};

} // namespace

const CommandEntry* findCommand(const std::string& word) {
    for (const auto& entry : commands)
        if (word == entry.name)
            return &entry;
    return nullptr;
}

bool runVoiceCommand(const std::string& command, const CommandContext& context) {
    const CommandEntry* entry = findCommand(command);
    return entry != nullptr && entry->run(context);
}

} // namespace talvoro
