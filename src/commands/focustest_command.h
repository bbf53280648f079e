#pragma once

#include "base/command_context.h"

namespace talvoro {

bool runFocusTest(const CommandContext& context);

} // namespace talvoro
