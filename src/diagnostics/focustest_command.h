#pragma once

#include "app/commands.h"

namespace talvoro {

bool runFocusTest(const CommandContext& context);

} // namespace talvoro
