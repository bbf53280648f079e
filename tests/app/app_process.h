#pragma once

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "insertion/paster_x11_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

// The program started with these arguments, its output (both streams) going to a file.
class AppProcess {
public:
    AppProcess(const std::vector<std::string>& args, const std::string& outputFile)
        : output(outputFile) {
        std::vector<std::string> argv{talvoroExecutable()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> raw;
        for (const auto& arg : argv)
            raw.push_back(const_cast<char*>(arg.c_str()));
        raw.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~AppProcess() { stop(SIGKILL); }
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::string printed() const { return readFile(output); }
    bool printedLine(const std::string& text, double seconds = 20) const {
        return waitFor([&] { return printed().find(text) != std::string::npos; }, seconds);
    }
    // Sends the signal and waits; the exit status, -1 when it did not exit normally.
    int stop(int signal = SIGTERM) {
        if (pid_ > 0)
            ::kill(pid_, signal);
        return wait(3600);
    }
    // Waits for an exit of its own; its status, or -2 when it is still running.
    int wait(double seconds) {
        int raw = 0;
        if (pid_ <= 0)
            return status_;
        if (!waitFor([&] { return ::waitpid(pid_, &raw, WNOHANG) == pid_; }, seconds))
            return -2;
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return status_;
    }

private:
    std::string output;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Whether X knows a window of that name and it is mapped and viewable.
inline bool windowViewable(const std::string& name) {
    return runProgram("xwininfo -name '" + name + "' 2>/dev/null").output.find("IsViewable") !=
           std::string::npos;
}

} // namespace talvoro::testing
