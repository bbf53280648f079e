#include <gtest/gtest.h>

#include "app/app_process.h"
#include "hotkey/x11_key_client.h"
#include "support/xvfb_server.h"

using namespace talvoro::testing;

TEST(HotkeyCommand, ReportsTriggersUntilCtrlC) {
    XvfbServer xvfb;
    if (!xvfb.running())
        GTEST_SKIP() << "Xvfb is not installed";
    TempDir dir;
    AppProcess command({"hotkey"}, dir / "out");
    ASSERT_TRUE(command.printedLine("Ctrl-C — выход\n\n")) << command.printed();
    EXPECT_EQ(
        command.printed().rfind("мониторинг ввода: выдан\nуниверсальный доступ: выдан\n"
                                "хоткей Alt+Space — жми где угодно; остальные клавиши не трогаем\n",
                                0),
        0u)
        << command.printed();

    Typist typist;
    for (int i = 0; i < 3; ++i) {
        typist.press(keysym::altL);
        typist.tap(keysym::space);
        typist.release(keysym::altL);
    }
    ASSERT_TRUE(command.printedLine("    3  ▶ запись  ")) << command.printed();
    EXPECT_EQ(command.stop(SIGINT), 0);

    const std::string out = command.printed();
    for (const char* line : {"    1  ▶ запись  ", "    2  ■ стоп    ", "  +0.00 с  задержка "})
        EXPECT_NE(out.find(line), std::string::npos) << line << " in " << out;
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
