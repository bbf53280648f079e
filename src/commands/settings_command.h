#pragma once

#include "base/command_context.h"

namespace talvoro {

// `settings`: the running Тальворо opens its settings window; without one the window opens on
// its own, writing the same settings file.
bool runSettings(const CommandContext& context);

} // namespace talvoro
