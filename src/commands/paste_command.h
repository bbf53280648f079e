#pragma once

#include "base/command_context.h"

namespace talvoro {

bool runPaste(const CommandContext& context);

// Whole seconds of the "--delay N" option, or `fallback`.
int delaySeconds(const CommandLine& args, int fallback);

} // namespace talvoro
