#pragma once

#include "base/command_context.h"

namespace talvoro {

bool runPasteTest(const CommandContext& context);

} // namespace talvoro
