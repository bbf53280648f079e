#pragma once

#include "base/command_context.h"

namespace talvoro {

// `dictate [--stub] [--stub-fail] [--debug]`: dictation from a terminal.
bool runDictate(const CommandContext& context);

// No command word: the tray application.
bool runTrayApplication(const CommandContext& context);

} // namespace talvoro
