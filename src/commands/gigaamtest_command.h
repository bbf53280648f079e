#pragma once

#include "base/command_context.h"

namespace talvoro {

// gigaamtest [файл.wav | папка] [--wav path] [--window S] [--neural]: recognises recordings
// with the local model and prints each text beside the one kept with the sample.
bool runGigaamtest(const CommandContext& context);

} // namespace talvoro
