#pragma once

#include "base/command_context.h"

namespace talvoro {

// Self-check of speech cutting, the recognition edge, the final full stop, filler removal
// and the replacement dictionary.
bool runCuttest(const CommandContext& context);

} // namespace talvoro
