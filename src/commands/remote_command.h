#pragma once

#include "base/command_context.h"

namespace talvoro {

// `toggle`, `paste-last`, `quit`: the same as the hotkey, the menu item and "Выход" in the
// running instance. Without one they say so and end with status 1.
bool runToggle(const CommandContext& context);
bool runPasteLast(const CommandContext& context);
bool runQuit(const CommandContext& context);

} // namespace talvoro
