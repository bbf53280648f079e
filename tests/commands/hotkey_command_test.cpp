#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hotkey/x11_key_client.h"
#include "support/run_program.h"
#include "support/xvfb_server.h"

using namespace talvoro::testing;

namespace {

// `talvoro hotkey` as a child whose standard output the test reads while it runs.
class HotkeyCommand {
public:
    HotkeyCommand() {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const std::string program = talvoroExecutable();
            ::execl(program.c_str(), program.c_str(), "hotkey", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        out = fds[0];
    }
    ~HotkeyCommand() {
        if (pid > 0 && status < 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            ::close(out);
    }

    // Reads until the output holds `text` or five seconds passed.
    bool awaitOutput(const std::string& text) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (output.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > until || !readSome(100))
                return output.find(text) != std::string::npos;
        }
        return true;
    }
    int interruptAndWait() {
        ::kill(pid, SIGINT);
        while (readSome(5000)) {
        }
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
        return status;
    }

    std::string output;

private:
    // False at the end of the output.
    bool readSome(int timeoutMs) {
        pollfd fd{out, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) <= 0)
            return true;
        char buffer[4096];
        ssize_t n = ::read(out, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        output.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid = -1;
    int out = -1;
    int status = -1;
};

} // namespace

TEST(HotkeyCommand, ReportsTriggersUntilCtrlC) {
    XvfbServer xvfb;
    if (!xvfb.running())
        GTEST_SKIP() << "Xvfb is not installed";
    HotkeyCommand command;
    ASSERT_TRUE(command.awaitOutput("Ctrl-C — выход\n\n")) << command.output;
    EXPECT_EQ(
        command.output.rfind("мониторинг ввода: выдан\nуниверсальный доступ: выдан\n"
                             "хоткей Alt+Space — жми где угодно; остальные клавиши не трогаем\n",
                             0),
        0u)
        << command.output;

    Typist typist;
    for (int i = 0; i < 3; ++i) {
        typist.press(keysym::altL);
        typist.tap(keysym::space);
        typist.release(keysym::altL);
    }
    ASSERT_TRUE(command.awaitOutput("    3  ▶ запись  ")) << command.output;
    EXPECT_EQ(command.interruptAndWait(), 0);

    const std::string& out = command.output;
    EXPECT_NE(out.find("    1  ▶ запись  "), std::string::npos) << out;
    EXPECT_NE(out.find("    2  ■ стоп    "), std::string::npos) << out;
    EXPECT_NE(out.find("  +0.00 с  задержка "), std::string::npos) << out;
    EXPECT_EQ(out.find("    4 "), std::string::npos) << out;
    const std::size_t summary = out.find("\n\nсрабатываний: 3\nхудшая задержка: ");
    ASSERT_NE(summary, std::string::npos) << out;
    EXPECT_NE(out.find(" мс\ntap не отключался ни разу\n", summary), std::string::npos) << out;
}

TEST(HotkeyCommand, RefusesAHotkeyItCannotRead) {
    ProgramResult result = runProgram(talvoroExecutable() + " hotkey --hotkey 'opt+space+q' 2>&1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "ошибка: не разобрал сочетание «opt+space+q» — пиши как opt+space\n");
}
