#pragma once

#include <string>

#include "base/command_context.h"

namespace talvoro {

struct CommandEntry {
    enum class Kind { hidden, command, selfCheck };
    const char* name;
    bool needsWindows; // a QApplication rather than a QCoreApplication
    bool (*run)(const CommandContext&);
    Kind kind;
    // Its lines in the usage text after the two-space indent: the name with its arguments in a
    // column of 25, the explanation, further lines indented to the column.
    const char* usage;
};

// The commands in dispatch order; nothing when the word names no command of this build.
const CommandEntry* findCommand(const std::string& word);

// Runs the command word; false for an unknown word (the caller prints the usage text).
bool runVoiceCommand(const std::string& command, const CommandContext& context);

// The usage text listing exactly the commands of the table.
std::string commandUsage();

} // namespace talvoro
