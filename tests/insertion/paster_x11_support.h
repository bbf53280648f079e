#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace talvoro::testing {

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

inline bool waitFor(const std::function<bool()>& condition, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

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

inline bool haveProgram(const char* path) {
    return ::access(path, X_OK) == 0;
}

// A private session bus (dbus-daemon --session) on a socket of its own; while it lives,
// DBUS_SESSION_BUS_ADDRESS points at it. The accessibility bus launcher is started from it on
// demand and goes away with it.
class SessionBus {
public:
    explicit SessionBus(const std::filesystem::path& folder)
        : socket(folder / "session-bus"), address("unix:path=" + socket.string()),
          daemon({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                  "--address=" + address}) {
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            saved = old;
        if (waitFor([&] { return std::filesystem::exists(socket); }, 10))
            ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    ~SessionBus() {
        if (saved)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", saved->c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    bool running() const { return std::filesystem::exists(socket); }

private:
    std::filesystem::path socket;
    std::string address;
    std::optional<std::string> saved;
    ChildProcess daemon;
};

} // namespace talvoro::testing
