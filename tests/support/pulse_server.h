#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/run_program.h"

namespace talvoro::testing {

// A PulseAudio daemon of the test's own, in a private folder, with a null sink as the
// default sink and its monitor as the default source: what is played into the sink can be
// recorded. PULSE_SERVER points at it while it lives (and is restored afterwards). Tests
// that use it are labelled audio and skip themselves when pulseaudio is not installed.
class PulseServer {
public:
    struct Options {
        // Without it the server has no sink and no source at all.
        bool withSink = true;
    };

    PulseServer() : PulseServer(Options{}) {}
    explicit PulseServer(const Options& options) {
        if (::access("/usr/bin/pulseaudio", X_OK) != 0)
            return;
        std::string pattern =
            (std::filesystem::temp_directory_path() / "talvoro-pulse-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return;
        dir_ = pattern;
        socket_ = dir_ + "/native";
        std::ofstream script(dir_ + "/default.pa");
        if (options.withSink)
            script << "load-module module-null-sink sink_name=" << sinkName()
                   << " rate=48000 channels=2 format=float32le\n"
                   << "set-default-sink " << sinkName() << "\n"
                   << "set-default-source " << sinkName() << ".monitor\n";
        // Last: the socket accepts only once the rest is in place.
        script << "load-module module-native-protocol-unix socket=" << socket_
               << " auth-anonymous=1\n";
        script.close();
        if (const char* s = std::getenv("PULSE_SERVER")) {
            hadServer_ = true;
            savedServer_ = s;
        }
        start();
        // Silence played into the sink at 10 ms latency for as long as the server runs: an idle
        // null sink renders two-second blocks, so a new recording would see its first data only
        // when the current block has run out; a busy one behaves like a live microphone.
        if (running() && options.withSink)
            startSilence();
    }
    ~PulseServer() {
        kill(SIGTERM);
        if (hadServer_)
            ::setenv("PULSE_SERVER", savedServer_.c_str(), 1);
        else
            ::unsetenv("PULSE_SERVER");
        std::error_code ec;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ec);
    }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool running() const { return pid_ > 0; }
    static std::string sinkName() { return "talvoro_test_sink"; }
    std::string server() const { return "unix:" + socket_; }
    const std::string& folder() const { return dir_; }

    // Stops the daemon where it is (a wedged server), or lets it go on.
    void freeze(bool frozen) {
        if (pid_ > 0)
            ::kill(pid_, frozen ? SIGSTOP : SIGCONT);
    }

    // Ends the daemon (SIGKILL: as if it crashed) and waits for it; PULSE_SERVER stays.
    void kill(int signal = SIGKILL) {
        if (silencePid_ > 0) {
            ::kill(silencePid_, SIGKILL);
            ::waitpid(silencePid_, nullptr, 0);
            silencePid_ = -1;
        }
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    void start() {
        pid_t child = ::fork();
        if (child == 0) {
            for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH",
                                     "PULSE_STATE_PATH", "XDG_CONFIG_HOME"})
                ::setenv(name, dir_.c_str(), 1);
            ::unsetenv("PULSE_SERVER");
            std::string log = dir_ + "/log";
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            std::string file = "--file=" + dir_ + "/default.pa";
            ::execl("/usr/bin/pulseaudio", "pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                    "--system=false", "-n", file.c_str(), "--disallow-exit", "--use-pid-file=no",
                    "--disable-shm=yes", "--log-target=stderr", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (child < 0)
            return;
        for (int i = 0; i < 200; ++i) {
            if (accepts()) {
                pid_ = child;
                ::setenv("PULSE_SERVER", server().c_str(), 1);
                return;
            }
            if (::waitpid(child, nullptr, WNOHANG) == child)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }

    void startSilence() {
        pid_t child = ::fork();
        if (child == 0) {
            int zero = ::open("/dev/zero", O_RDONLY);
            ::dup2(zero, 0);
            std::freopen("/dev/null", "w", stderr);
            std::string device = "--device=" + sinkName();
            ::execl("/usr/bin/pacat", "pacat", "--playback", device.c_str(), "--latency-msec=10",
                    "--raw", "--format=s16le", "--rate=48000", "--channels=2",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        silencePid_ = child;
        const std::string env = "PULSE_SERVER=" + server() + " ";
        waitFor(
            [&] {
                return !runProgram(env + "/usr/bin/pactl list short sink-inputs").output.empty();
            },
            2);
        // Suspending and resuming drops the block the sink rendered while it was idle.
        const std::string pactl = env + "/usr/bin/pactl suspend-sink " + sinkName();
        std::system((pactl + " 1 && " + pactl + " 0").c_str());
    }

    bool accepts() const {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0)
            return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socket_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::close(fd);
        return ok;
    }

    pid_t pid_ = -1;
    pid_t silencePid_ = -1;
    std::string dir_;
    std::string socket_;
    bool hadServer_ = false;
    std::string savedServer_;
};

} // namespace talvoro::testing
