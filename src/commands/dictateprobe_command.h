#pragma once

#include "base/command_context.h"

namespace talvoro {

// dictateprobe [запись.wav] [--engine server|local]: which engine dictation uses now and whether
// a recording gets through it; fetches the model first when it is missing.
bool runDictateprobe(const CommandContext& context);

} // namespace talvoro
