#pragma once

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace talvoro::testing {

// An Xvfb of the test's own on a display number the server picks itself (it skips those whose
// lock another server holds); DISPLAY points at it while it lives. Tests that use it are
// labelled x11 and skip themselves when Xvfb is not installed.
class XvfbServer {
public:
    XvfbServer() {
        if (const char* display = std::getenv("DISPLAY"))
            saved_ = display;
        int ready[2];
        if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::pipe2(ready, O_CLOEXEC) != 0)
            return;
        const std::string fd = std::to_string(ready[1]);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::fcntl(ready[1], F_SETFD, 0);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp",
                    "-screen", "0", "1280x800x24", "+extension", "XTEST", "+extension", "XFIXES",
                    "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        // The number and a line feed come once the server takes connections (closing the pipe
        // before the line feed kills it); nothing comes if it died.
        std::string number;
        for (char c = 0; pid_ > 0 && c != '\n' && ::read(ready[0], &c, 1) == 1;)
            number += c;
        ::close(ready[0]);
        if (number.ends_with('\n'))
            ::setenv("DISPLAY", (":" + number.substr(0, number.size() - 1)).c_str(), 1);
        else
            stop();
    }
    ~XvfbServer() {
        stop();
        if (saved_)
            ::setenv("DISPLAY", saved_->c_str(), 1);
        else
            ::unsetenv("DISPLAY");
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return pid_ > 0; }

private:
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::optional<std::string> saved_;
};

} // namespace talvoro::testing
