#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

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

// Qt programs started from here serve the accessibility bus, which runs on a private session bus
// where dbus-daemon is installed; without one they are told there is no session bus at all.
inline void startAccessibleSession(std::optional<SessionBus>& bus,
                                   const std::filesystem::path& folder) {
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    if (haveProgram("/usr/bin/dbus-daemon"))
        bus.emplace(folder);
    else
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

// A private session bus with Debian's real xdg-desktop-portal on it, serving GlobalShortcuts
// and RemoteDesktop from the test backend tests/support/portal_backend.py. This process's
// DBUS_SESSION_BUS_ADDRESS points at it from construction on.
class PortalBus {
public:
    static constexpr char backendName[] = "org.freedesktop.impl.portal.TalvoroTest";

    PortalBus() {
        std::filesystem::create_directories(folder / "portals");
        std::ofstream(folder / "portals/talvoro-test.portal")
            << "[portal]\nDBusName=" << backendName
            << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;"
               "org.freedesktop.impl.portal.RemoteDesktop;\nUseIn=talvorotest\n";
        backend.emplace(std::vector<std::string>{"/usr/bin/python3",
                                                 std::string(TALVORO_SOURCE_DIR) +
                                                     "/tests/support/portal_backend.py",
                                                 backendName, (folder / "calls.log").string()});
        waitForName(backendName);
        frontend.emplace(std::vector<std::string>{
            "/usr/bin/env", "XDG_DESKTOP_PORTAL_DIR=" + (folder / "portals").string(),
            "XDG_CURRENT_DESKTOP=talvorotest", "/usr/libexec/xdg-desktop-portal"});
        ready = waitForName("org.freedesktop.portal.Desktop");
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
        waitFor([&] { return calls().size() >= count; }, 10);
        return calls();
    }

    // Activate / Deactivate a shortcut by id, Refuse the next sessions, HoldStart the next
    // RemoteDesktop Start until AnswerStart with a response code.
    void control(const std::string& method, const std::string& argument = {}) const {
        runProgram("gdbus call --session --dest " + std::string(backendName) +
                   " --object-path /control --method org.talvoro.TestControl." + method +
                   (argument.empty() ? "" : " " + argument) + " >/dev/null");
    }

private:
    static bool waitForName(const std::string& name) {
        return runProgram("gdbus wait --session --timeout 20 " + name).status == 0;
    }

    TempDir dir;
    std::filesystem::path folder{dir.path()};
    SessionBus bus{folder};
    std::optional<ChildProcess> backend, frontend;
};

} // namespace talvoro::testing
