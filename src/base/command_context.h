#pragma once

#include "base/command_line.h"
#include "base/config.h"

namespace talvoro {

// What every command gets: the settings (already narrowed to this build) and its arguments.
struct CommandContext {
    Config config;
    CommandLine args;
};

} // namespace talvoro
