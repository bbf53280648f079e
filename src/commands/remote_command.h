#pragma once

#include "base/command_context.h"

namespace talvoro {

// `toggle`, `paste-last`, `quit`: the same as the hotkey, the menu item and "Выход" in the
// running instance; `start`, `stop` and `cancel` are the hotkey's press, its release and Esc,
// for desktops that bind keys to commands. Without an instance they say so, status 1.
bool runToggle(const CommandContext& context);
bool runStart(const CommandContext& context);
bool runStop(const CommandContext& context);
bool runCancel(const CommandContext& context);
bool runPasteLast(const CommandContext& context);
bool runQuit(const CommandContext& context);

} // namespace talvoro
