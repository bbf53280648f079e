#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <map>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

// The account compositors and their clients run as. sway refuses to run as root and CI runs as
// root, so a root test makes (once) an unprivileged account and drops to it; a test run by an
// ordinary user stays that user.
struct DesktopUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;

    static DesktopUser ensure() {
        DesktopUser user;
        if (::geteuid() != 0) {
            user.uid = ::geteuid();
            user.gid = ::getegid();
            if (const passwd* pw = ::getpwuid(user.uid))
                user.name = pw->pw_name;
            return user;
        }
        const char* name = "talvorowl";
        if (::getpwnam(name) == nullptr)
            std::system("useradd --system --no-create-home --shell /usr/sbin/nologin talvorowl "
                        ">/dev/null 2>&1");
        if (const passwd* pw = ::getpwnam(name)) {
            user.uid = pw->pw_uid;
            user.gid = pw->pw_gid;
            user.name = name;
        }
        return user;
    }
    bool valid() const { return !name.empty(); }
};

// A Wayland compositor of the test's own with no screen or input devices (sway or weston,
// XWayland on), run as the desktop user with a private XDG_RUNTIME_DIR and HOME. Programs started
// through it run as that user in the session's environment. Everything it started is ended and
// its folders removed when it goes. Tests that use it skip themselves when `skipReason()` is set.
class HeadlessCompositor {
public:
    enum class Kind { Sway, Weston, KWin, Mutter };
    struct Options {
        bool xwayland = true;
        bool sessionBus = false;                        // a private session bus as the desktop user
        std::string swayConfig;                         // lines added to sway's configuration
        std::map<std::string, std::string> environment; // for the compositor and its clients
    };

    explicit HeadlessCompositor(Kind kind) : HeadlessCompositor(kind, Options{}) {}
    HeadlessCompositor(Kind kind, const Options& options) {
        const char* program = kind == Kind::Sway     ? "/usr/bin/sway"
                              : kind == Kind::Weston ? "/usr/bin/weston"
                              : kind == Kind::KWin   ? "/usr/bin/kwin_wayland"
                                                     : "/usr/bin/mutter";
        if (::access(program, X_OK) != 0) {
            skip_ = std::string(program) + " is not installed";
            return;
        }
        user_ = DesktopUser::ensure();
        if (!user_.valid()) {
            skip_ = "no unprivileged account to run the compositor as";
            return;
        }
        runtime_ = makeOwnedFolder("talvoro-wl-run");
        home_ = makeOwnedFolder("talvoro-wl-home");
        if (runtime_.empty() || home_.empty()) {
            skip_ = "cannot make the session's folders";
            return;
        }
        env_["XDG_RUNTIME_DIR"] = runtime_.string();
        env_["HOME"] = home_.string();
        env_["PATH"] = "/usr/local/bin:/usr/bin:/bin";
        env_["XDG_SESSION_TYPE"] = "wayland";
        env_["LANG"] = "C.UTF-8";
        env_.insert(options.environment.begin(), options.environment.end());
        // KWin and mutter talk to the session bus from the start.
        if (options.sessionBus || kind == Kind::KWin || kind == Kind::Mutter)
            startSessionBus();
        if (options.xwayland && ::geteuid() == 0)
            shareX11SocketFolder();
        if (kind == Kind::Sway)
            startSway(options);
        else if (kind == Kind::Weston)
            startWeston(options);
        else if (kind == Kind::KWin)
            startKWin(options);
        else
            startMutter(options);
    }
    ~HeadlessCompositor() {
        for (auto it = children_.rbegin(); it != children_.rend(); ++it)
            stop(*it);
        if (compositor_ > 0)
            stop(compositor_);
        if (bus_ > 0)
            stop(bus_);
        std::error_code ec;
        if (!runtime_.empty())
            std::filesystem::remove_all(runtime_, ec);
        if (!home_.empty())
            std::filesystem::remove_all(home_, ec);
    }
    HeadlessCompositor(const HeadlessCompositor&) = delete;
    HeadlessCompositor& operator=(const HeadlessCompositor&) = delete;

    bool running() const { return skip_.empty() && compositor_ > 0; }
    pid_t pid() const { return compositor_; } // to freeze it with SIGSTOP
    const std::string& skipReason() const { return skip_; }
    const std::filesystem::path& runtimeDir() const { return runtime_; }
    const std::filesystem::path& home() const { return home_; }

    // Lets the desktop user reach a folder the test made (a sound server's socket, say).
    static void letReach(const std::filesystem::path& folder) { ::chmod(folder.c_str(), 0755); }
    // Gives the desktop user a file or folder the test made, to write into.
    void hand(const std::filesystem::path& path) const {
        std::error_code ec;
        if (::chown(path.c_str(), user_.uid, user_.gid) == 0 &&
            std::filesystem::is_directory(path, ec))
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ec))
                [[maybe_unused]] int r = ::chown(entry.path().c_str(), user_.uid, user_.gid);
    }

    // Starts a program as the desktop user in the session; it is ended with the compositor.
    // `output` (optional) receives its standard output and error.
    pid_t start(const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& extra = {},
                const std::filesystem::path& output = {}) {
        pid_t pid = spawn(argv, extra, output.empty() ? -1 : openOutput(output));
        if (pid > 0)
            children_.push_back(pid);
        return pid;
    }

    struct Result {
        int status = -1; // -1: did not end in time, or was killed
        std::string output;
    };
    // Runs a program as the desktop user to its end and collects what it prints.
    Result run(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& extra = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        Result result;
        std::string output = (runtime_ / "run-XXXXXX").string();
        const int fd = ::mkostemp(output.data(), O_CLOEXEC);
        if (fd < 0)
            return result;
        const pid_t pid = spawn(argv, extra, fd);
        if (pid > 0)
            result.status = reap(pid, std::chrono::steady_clock::now() + timeout);
        result.output = readFile(output);
        std::filesystem::remove(output);
        return result;
    }

    // A sway command through its IPC, as `swaymsg` would send it.
    Result swaymsg(const std::string& command) const { return run({"swaymsg", command}); }

    // Waits until `path` exists (a file a client writes, a socket).
    static bool waitFor(const std::filesystem::path& path,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::error_code ec;
        return testing::waitFor([&] { return std::filesystem::exists(path, ec); },
                                timeout.count() / 1000.0);
    }

private:
    std::filesystem::path makeOwnedFolder(const char* prefix) const {
        std::string pattern =
            (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return {};
        if (::chown(pattern.c_str(), user_.uid, user_.gid) != 0 && ::geteuid() == 0)
            return {};
        ::chmod(pattern.c_str(), 0700);
        return pattern;
    }

    int openOutput(const std::filesystem::path& path) const {
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }

    pid_t spawn(const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& extra, int output) const {
        std::map<std::string, std::string> all = env_;
        for (const auto& [k, v] : extra)
            all[k] = v;
        std::vector<std::string> envText;
        for (const auto& [k, v] : all)
            envText.push_back(k + "=" + v);
        std::vector<char*> envp, args;
        for (auto& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argCopy = argv;
        for (auto& a : argCopy)
            args.push_back(a.data());
        args.push_back(nullptr);
        std::string home = home_.string();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            if (output >= 0) {
                ::dup2(output, 1);
                ::dup2(output, 2);
            } else {
                int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            int in = ::open("/dev/null", O_RDONLY);
            ::dup2(in, 0);
            if (::geteuid() == 0 && user_.uid != 0) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(user_.gid) != 0 ||
                    ::setuid(user_.uid) != 0)
                    ::_exit(126);
            }
            if (::chdir(home.c_str()) != 0)
                ::_exit(126);
            ::execvpe(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        if (output >= 0 && output != 1)
            ::close(output);
        return pid;
    }

    static int reap(pid_t pid, std::chrono::steady_clock::time_point deadline) {
        int raw = 0;
        while (::waitpid(pid, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(-pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    static void stop(pid_t pid) {
        ::kill(-pid, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        if (reap(pid, deadline) == -1)
            ::kill(-pid, SIGKILL);
    }

    void startSessionBus() {
        std::string address = "unix:path=" + (runtime_ / "bus").string();
        bus_ = spawn({"dbus-daemon", "--session", "--nofork", "--address=" + address}, {}, -1);
        if (bus_ > 0 && waitFor(runtime_ / "bus"))
            env_["DBUS_SESSION_BUS_ADDRESS"] = address;
        else
            skip_ = "the session bus did not start";
    }

    void startSway(const Options& options) {
        std::filesystem::path config = runtime_ / "sway.config";
        {
            std::ofstream out(config);
            out << "output HEADLESS-1 resolution 1280x800\n"
                << "xwayland " << (options.xwayland ? "enable" : "disable") << "\n"
                << options.swayConfig << "\n";
        }
        hand(config);
        std::map<std::string, std::string> extra = {{"WLR_BACKENDS", "headless"},
                                                    {"WLR_LIBINPUT_NO_DEVICES", "1"},
                                                    {"WLR_RENDERER", "pixman"}};
        compositor_ = spawn({"sway", "-c", config.string()}, extra, openOutput(runtime_ / "log"));
        if (!waitForSocket("wayland-1"))
            return;
        // sway opens its IPC socket after the Wayland one: on a busy machine, some time after.
        testing::waitFor(
            [&] {
                for (const auto& entry : std::filesystem::directory_iterator(runtime_))
                    if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0)
                        env_["SWAYSOCK"] = entry.path().string();
                return env_.contains("SWAYSOCK");
            },
            10);
        env_["XDG_CURRENT_DESKTOP"] = "sway";
        if (!options.xwayland)
            return;
        // sway names its XWayland display only to the programs it starts.
        std::filesystem::path file = runtime_ / "x-display";
        swaymsg("exec echo $DISPLAY > " + file.string());
        readDisplay(file);
    }

    void startWeston(const Options& options) {
        std::vector<std::string> argv = {"weston", "--backend=headless-backend.so",
                                         "--socket=wayland-1", "--idle-time=0"};
        if (options.xwayland)
            argv.push_back("--xwayland");
        compositor_ = spawn(argv, {}, openOutput(runtime_ / "log"));
        if (!waitForSocket("wayland-1"))
            return;
        env_["XDG_CURRENT_DESKTOP"] = "weston";
        if (!options.xwayland)
            return;
        if (auto display = awaitInLog("xserver listening on display ", "\r\n "))
            env_["DISPLAY"] = *display;
        else
            skip_ = "weston did not start XWayland";
    }

    // XWayland started first by the desktop user would make the folder its own, mode 755, and
    // every other X server after it fails; it belongs to root with mode 1777.
    static void shareX11SocketFolder() {
        ::mkdir("/tmp/.X11-unix", 01777);
        [[maybe_unused]] int r = ::chown("/tmp/.X11-unix", 0, 0);
        ::chmod("/tmp/.X11-unix", 01777);
    }

    // KWin carries a file capability that an unprivileged process in a container may not be
    // granted, and then cannot be started at all; a copy carries none.
    void startKWin(const Options& options) {
        const std::filesystem::path copy = runtime_ / "kwin_wayland";
        std::error_code ec;
        std::filesystem::copy_file("/usr/bin/kwin_wayland", copy, ec);
        hand(copy);
        std::vector<std::string> argv = {copy.string(), "--virtual", "--width",  "1280",
                                         "--height",    "800",       "--socket", "wayland-1"};
        // KWin names its XWayland display only to the programs it starts.
        const std::filesystem::path file = runtime_ / "x-display";
        const std::filesystem::path tell = runtime_ / "tell-display";
        if (options.xwayland) {
            std::ofstream(tell) << "#!/bin/sh\necho \"$DISPLAY\" > " << file.string() << "\n";
            ::chmod(tell.c_str(), 0755);
            hand(tell);
            argv.insert(argv.end(), {"--xwayland", tell.string()});
        }
        compositor_ = spawn(argv, {{"KWIN_COMPOSE", "Q"}}, openOutput(runtime_ / "log"));
        if (!waitForSocket("wayland-1"))
            return;
        env_["XDG_CURRENT_DESKTOP"] = "KDE";
        if (options.xwayland)
            readDisplay(file);
    }

    void startMutter(const Options& options) {
        std::vector<std::string> argv = {"mutter",
                                         "--headless",
                                         "--wayland",
                                         "--wayland-display=wayland-1",
                                         "--virtual-monitor",
                                         "1280x800"};
        if (!options.xwayland)
            argv.push_back("--no-x11");
        compositor_ = spawn(argv, {}, openOutput(runtime_ / "log"));
        if (!waitForSocket("wayland-1"))
            return;
        env_["XDG_CURRENT_DESKTOP"] = "GNOME";
        if (!options.xwayland)
            return;
        auto display = awaitInLog("Using public X11 display ", ",");
        if (!display) {
            skip_ = "mutter did not start XWayland";
            return;
        }
        env_["DISPLAY"] = *display;
        for (const auto& entry : std::filesystem::directory_iterator(runtime_))
            if (entry.path().filename().string().rfind(".mutter-Xwaylandauth", 0) == 0)
                env_["XAUTHORITY"] = entry.path().string();
    }

    // What follows `marker` in the compositor's log up to one of `ends`, once it appears there.
    std::optional<std::string> awaitInLog(const std::string& marker, const char* ends) const {
        std::string text;
        if (!testing::waitFor(
                [&] {
                    return (text = readFile(runtime_ / "log")).find(marker) != std::string::npos;
                },
                15))
            return std::nullopt;
        text = text.substr(text.find(marker) + marker.size());
        return text.substr(0, text.find_first_of(ends));
    }

    void readDisplay(const std::filesystem::path& file) {
        std::string display;
        testing::waitFor([&] { return bool(std::ifstream(file) >> display); }, 15);
        if (display.empty())
            skip_ = "the compositor did not name its XWayland display";
        else
            env_["DISPLAY"] = display;
    }

    bool waitForSocket(const std::string& name) {
        if (compositor_ <= 0 || !waitFor(runtime_ / name)) {
            skip_ = "the compositor did not start: " + readFile(runtime_ / "log").substr(0, 400);
            return false;
        }
        env_["WAYLAND_DISPLAY"] = name;
        return true;
    }

    DesktopUser user_;
    std::string skip_;
    std::filesystem::path runtime_;
    std::filesystem::path home_;
    std::map<std::string, std::string> env_;
    pid_t compositor_ = -1;
    pid_t bus_ = -1;
    std::vector<pid_t> children_;
};

} // namespace talvoro::testing
