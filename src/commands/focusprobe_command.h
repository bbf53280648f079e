#pragma once

#include "base/command_context.h"

namespace talvoro {

bool runFocusProbe(const CommandContext& context);

} // namespace talvoro
