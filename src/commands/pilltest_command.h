#pragma once

#include "base/command_context.h"

namespace talvoro {

// `pilltest [--theme dark] [--shots dir] [--grow dir "фраза"] [--icons dir]`
bool runPilltest(const CommandContext& context);

} // namespace talvoro
