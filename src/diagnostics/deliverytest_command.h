#pragma once

#include "app/commands.h"

namespace talvoro {

// Self-check of how delivery failures are classified.
bool runDeliverytest(const CommandContext& context);

} // namespace talvoro
