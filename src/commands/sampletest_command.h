#pragma once

#include "base/command_context.h"

namespace talvoro {

// `sampletest`: sample pairs, the folder limit and the archive, in a folder of its own;
// the model's name, on the downloaded model or else the build's test model.
bool runSampletest(const CommandContext& context);

} // namespace talvoro
