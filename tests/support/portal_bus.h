#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <stdlib.h>
#include <sys/wait.h>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

// A private session bus with Debian's real xdg-desktop-portal on it, serving GlobalShortcuts
// and RemoteDesktop from the test backend tests/support/portal_backend.py. This process's
// DBUS_SESSION_BUS_ADDRESS points at it from construction on.
class PortalBus {
public:
    static constexpr char backendName[] = "org.freedesktop.impl.portal.TalvoroTest";

    PortalBus() {
        ProgramResult daemon =
            runProgram("dbus-daemon --session --fork --print-address=1 --print-pid=1");
        std::istringstream lines(daemon.output);
        std::string pid;
        std::getline(lines, address);
        std::getline(lines, pid);
        daemonPid = std::atoi(pid.c_str());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        std::filesystem::create_directories(folder / "portals");
        std::ofstream(folder / "portals/talvoro-test.portal")
            << "[portal]\nDBusName=" << backendName
            << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;"
               "org.freedesktop.impl.portal.RemoteDesktop;\nUseIn=talvorotest\n";
        backendPid = spawn({"/usr/bin/python3",
                            std::string(TALVORO_SOURCE_DIR) + "/tests/support/portal_backend.py",
                            backendName, (folder / "calls.log").string()},
                           {});
        waitForName(backendName);
        frontendPid = spawn({"/usr/libexec/xdg-desktop-portal"},
                            {"XDG_DESKTOP_PORTAL_DIR=" + (folder / "portals").string(),
                             "XDG_CURRENT_DESKTOP=talvorotest"});
        ready = waitForName("org.freedesktop.portal.Desktop");
    }
    ~PortalBus() {
        for (pid_t pid : {frontendPid, backendPid})
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        if (daemonPid > 0)
            ::kill(daemonPid, SIGTERM);
    }
    PortalBus(const PortalBus&) = delete;
    PortalBus& operator=(const PortalBus&) = delete;

    bool ready = false;

    // The backend's calls so far, one line each ("CreateSession -", "Key 29 1").
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::ifstream log(folder / "calls.log");
        for (std::string line; std::getline(log, line);)
            lines.push_back(line);
        return lines;
    }
    // Waits until the backend's log has `count` lines.
    std::vector<std::string> awaitCalls(std::size_t count) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (calls().size() < count && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return calls();
    }

    // Activate / Deactivate a shortcut by id, or Refuse the next sessions.
    void control(const std::string& method, const std::string& argument = {}) const {
        runProgram("gdbus call --session --dest " + std::string(backendName) +
                   " --object-path /control --method org.talvoro.TestControl." + method +
                   (argument.empty() ? "" : " " + argument) + " >/dev/null");
    }

private:
    static pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        for (const std::string& pair : env)
            ::putenv(const_cast<char*>(pair.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    static bool waitForName(const std::string& name) {
        return runProgram("gdbus wait --session --timeout 20 " + name).status == 0;
    }

    TempDir dir;
    std::filesystem::path folder{dir.path()};
    std::string address;
    pid_t daemonPid = 0, backendPid = 0, frontendPid = 0;
};

} // namespace talvoro::testing
