#pragma once

#include "base/command_context.h"

namespace talvoro {

// `offlinetest [--wav file]`: this build stays off the network, noise phrases are struck out,
// and the local recogniser hears a spoken sentence (made with espeak-ng) and shows it live —
// on the downloaded model, else on the build's test model with tones it knows.
bool runOfflinetest(const CommandContext& context);

} // namespace talvoro
