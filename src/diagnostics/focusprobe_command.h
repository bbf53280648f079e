#pragma once

#include "app/commands.h"

namespace talvoro {

bool runFocusProbe(const CommandContext& context);

} // namespace talvoro
