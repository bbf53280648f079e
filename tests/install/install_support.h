#pragma once

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

// A text as one word of a shell command line.
inline std::string shellWord(const std::string& text) {
    std::string word = "'";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// `cmake --install` of this build tree into that prefix.
inline ProgramResult installInto(const std::string& prefix) {
    return runProgram(shellWord(TALVORO_CMAKE_COMMAND) + " --install " +
                      shellWord(TALVORO_BINARY_DIR) + " --prefix " + shellWord(prefix) + " 2>&1");
}

// The installed program run as a user would start it: a clean environment with only a home
// folder, in a working folder far from the build tree.
inline ProgramResult runInstalled(const std::string& program, const std::string& arguments,
                                  const std::string& home, const std::string& workingFolder) {
    return runProgram("cd " + shellWord(workingFolder) + " && env -i HOME=" + shellWord(home) +
                      " PATH=/usr/bin:/bin LANG=C.UTF-8 " + shellWord(program) + " " + arguments +
                      " 2>&1");
}

} // namespace talvoro::testing
