#pragma once

#include <string>

#include "base/command_context.h"

namespace talvoro {

struct CommandEntry {
    const char* name;
    bool needsWindows; // a QApplication rather than a QCoreApplication
    bool (*run)(const CommandContext&);
};

// The commands in dispatch order; nothing when the word names no command of this build.
const CommandEntry* findCommand(const std::string& word);

// Runs the command word; false for an unknown word (the caller prints the usage text).
bool runVoiceCommand(const std::string& command, const CommandContext& context);

} // namespace talvoro
