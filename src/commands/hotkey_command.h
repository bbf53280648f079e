#pragma once

#include "base/command_context.h"

namespace talvoro {

// `hotkey [--hotkey X]`: watches the dictation hotkey until Ctrl-C and prints every press
// with its delay, then the count and the worst delay.
bool runHotkey(const CommandContext& context);

} // namespace talvoro
