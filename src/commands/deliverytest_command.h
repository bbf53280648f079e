#pragma once

#include "base/command_context.h"

namespace talvoro {

// Self-check of how delivery failures are classified.
bool runDeliverytest(const CommandContext& context);

} // namespace talvoro
