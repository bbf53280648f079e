#pragma once

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

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

inline bool haveProgram(const char* path) {
    return ::access(path, X_OK) == 0;
}

inline std::string talvoroExecutable() {
    return std::string(TALVORO_BINARY_DIR) + "/talvoro";
}

inline bool waitFor(const std::function<bool()>& condition, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// A child process, stopped (SIGTERM, then waited for) when this goes away.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv) {
        std::vector<char*> raw;
        for (const auto& arg : argv)
            raw.push_back(const_cast<char*>(arg.c_str()));
        raw.push_back(nullptr);
        if (::posix_spawn(&pid_, raw[0], nullptr, nullptr, raw.data(), environ) != 0)
            pid_ = -1;
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

} // namespace talvoro::testing
