#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include <sys/wait.h>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::runProgram;
namespace fs = std::filesystem;

constexpr char text[] = "привет мир";

// Runs shell command lines as an unprivileged user (nobody when we are root; KWin and its
// clients refuse nothing as root, but the session should look like a user's) in a private
// runtime folder, each in a process group of its own that is ended with the test.
class KwinSession {
public:
    explicit KwinSession(const testing::TempDir& dir) : root(dir.path()) {
        fs::create_directories(root / "runtime");
        fs::create_directories(root / "home");
        fs::create_directories(root / "data/applications");
        // A binary with file capabilities (KWin's) cannot be run in a container: run a copy.
        fs::copy_file("/usr/bin/kwin_wayland", root / "kwin_wayland");
        fs::permissions(root / "runtime", fs::perms::owner_all);
        if (::geteuid() == 0)
            runProgram("chown -R nobody:nogroup " + root.string() + " && chmod 755 " +
                       root.string());
        prefix =
            (::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "") +
            std::string("env -i PATH=/usr/bin:/bin HOME=") + (root / "home").string() +
            " XDG_RUNTIME_DIR=" + (root / "runtime").string() +
            " XDG_DATA_DIRS=" + (root / "data").string() +
            ":/usr/share WAYLAND_DISPLAY=talvoro-kwin ";
    }
    ~KwinSession() {
        for (pid_t group : groups) {
            ::kill(-group, SIGTERM);
            ::waitpid(group, nullptr, 0);
        }
    }

    fs::path root;

    void start(const std::string& command) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setsid();
            ::execl("/bin/sh", "sh", "-c", (prefix + command + " >/dev/null 2>&1").c_str(),
                    nullptr);
            ::_exit(127);
        }
        groups.push_back(pid);
    }
    testing::ProgramResult run(const std::string& command) {
        return runProgram(prefix + command + " 2>&1");
    }

private:
    std::string prefix;
    std::vector<pid_t> groups;
};

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 600 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return condition();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Under a headless KWin: a program named in a desktop entry with X-KDE-Wayland-Interfaces
// presses Ctrl+V into a native Qt field by key code; the same program under another path gets
// no fake input, and says where the key is missing.
TEST(KdeFakeInput, DesktopEntryAuthorisesThePasteKeystroke) {
    if (!fs::exists("/usr/bin/kwin_wayland"))
        GTEST_SKIP() << "kwin-wayland is not installed";
    testing::TempDir dir;
    KwinSession kwin(dir);
    const std::string probe = std::string(TALVORO_BINARY_DIR) + "/tests/insertion/fake_input_probe";
    std::ofstream(kwin.root / "data/applications/talvoro.desktop")
        << "[Desktop Entry]\nType=Application\nName=Тальворо\nExec=" << probe
        << "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    fs::copy_file(probe, kwin.root / "unlisted_probe");

    kwin.start("dbus-run-session -- " + (kwin.root / "kwin_wayland").string() +
               " --virtual --socket talvoro-kwin");
    ASSERT_TRUE(waitFor([&] { return fs::exists(kwin.root / "runtime/talvoro-kwin"); }));
    kwin.start(std::string("QT_QPA_PLATFORM=wayland ") + TALVORO_PASTE_TARGET + " --out " +
               (kwin.root / "field").string() + " --ready " + (kwin.root / "ready").string());
    ASSERT_TRUE(waitFor([&] { return fs::exists(kwin.root / "ready"); }));
    kwin.start(std::string("wl-copy --foreground '") + text + "'");
    ASSERT_TRUE(waitFor([&] { return kwin.run("wl-paste -n").output == text; }));

    EXPECT_EQ(kwin.run(probe).status, 0);
    EXPECT_TRUE(waitFor([&] { return readFile(kwin.root / "field") == text; }))
        << readFile(kwin.root / "field");

    testing::ProgramResult unlisted = kwin.run((kwin.root / "unlisted_probe").string());
    EXPECT_EQ(unlisted.status, 1);
    EXPECT_NE(unlisted.output.find("X-KDE-Wayland-Interfaces"), std::string::npos)
        << unlisted.output;
}

} // namespace
} // namespace talvoro
