#pragma once

#include "base/command_context.h"

namespace talvoro {

// `doctor`: what this session offers and the way chosen for each duty; status 1 when dictation
// cannot put text anywhere.
bool runDoctor(const CommandContext& context);

} // namespace talvoro
