#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace talvoro::testing {

struct ProgramResult {
    int status = -1;
    std::string output; // standard output, and standard error when merged
};

// Runs a shell command line and collects what it prints.
inline ProgramResult runProgram(const std::string& commandLine) {
    ProgramResult result;
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (pipe == nullptr)
        return result;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

inline std::string talvoroExecutable() {
    return std::string(TALVORO_BINARY_DIR) + "/talvoro";
}

} // namespace talvoro::testing
