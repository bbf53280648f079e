#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace talvoro::testing {

// An Xvfb of the test's own on a free display number; DISPLAY points at it while it lives.
// Tests that use it are labelled x11 and skip themselves when Xvfb is not installed.
class XvfbServer {
public:
    XvfbServer() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0)
            return;
        for (int attempt = 0; attempt < 50 && pid_ <= 0; ++attempt) {
            int display = 100 + (::getpid() * 7 + attempt * 13) % 800;
            if (std::string lock = "/tmp/.X" + std::to_string(display) + "-lock";
                ::access(lock.c_str(), F_OK) == 0)
                continue;
            start(display);
        }
    }
    ~XvfbServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (hadDisplay_)
            ::setenv("DISPLAY", savedDisplay_.c_str(), 1);
        else
            ::unsetenv("DISPLAY");
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& display() const { return name_; }

private:
    void start(int display) {
        if (const char* d = std::getenv("DISPLAY"); d && !hadDisplay_) {
            hadDisplay_ = true;
            savedDisplay_ = d;
        }
        name_ = ":" + std::to_string(display);
        pid_t child = ::fork();
        if (child == 0) {
            ::execl("/usr/bin/Xvfb", "Xvfb", name_.c_str(), "-nolisten", "tcp", "-screen", "0",
                    "1280x800x24", "+extension", "XTEST", "+extension", "XFIXES", "-noreset",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (child < 0)
            return;
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
        for (int i = 0; i < 100; ++i) {
            struct stat st {};
            if (::stat(socket.c_str(), &st) == 0) {
                pid_ = child;
                ::setenv("DISPLAY", name_.c_str(), 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return;
            }
            if (::waitpid(child, nullptr, WNOHANG) == child)
                return; // it died: the number was taken after all
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }

    pid_t pid_ = -1;
    std::string name_;
    bool hadDisplay_ = false;
    std::string savedDisplay_;
};

} // namespace talvoro::testing
