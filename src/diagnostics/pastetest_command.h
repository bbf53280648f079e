#pragma once

#include "app/commands.h"

namespace talvoro {

bool runPasteTest(const CommandContext& context);

} // namespace talvoro
