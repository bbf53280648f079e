#pragma once

#include <filesystem>
#include <string>
#include <unistd.h>

#include "support/portal_bus.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

// The Qt window with a text field (support/paste_target.cpp), started on the current DISPLAY;
// busy for `slowPasteMs` on Ctrl+V before it asks for the clipboard.
class PasteTarget {
public:
    PasteTarget(const std::filesystem::path& folder, const std::string& focus, int slowPasteMs = 0)
        : out(folder / ("typed-" + focus)), ready(folder / ("ready-" + focus)),
          process({TALVORO_PASTE_TARGET, "--out", out.string(), "--ready", ready.string(),
                   "--focus", focus, "--slow-paste", std::to_string(slowPasteMs)}) {}

    bool waitUntilActive() {
        return waitFor([&] { return std::filesystem::exists(ready); }, 15);
    }
    std::string typed() const { return std::filesystem::exists(out) ? readFile(out.string()) : ""; }
    pid_t pid() const { return process.pid(); }

private:
    std::filesystem::path out, ready;
    ChildProcess process;
};

} // namespace talvoro::testing
