#pragma once

#include "base/command_context.h"

namespace talvoro {

// `model import FOLDER`: the model files, named as published, copied from a folder (a USB
// stick, a download made on another computer), checked, and handed to the running instance.
bool runModel(const CommandContext& context);

} // namespace talvoro
