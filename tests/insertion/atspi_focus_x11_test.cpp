#include "insertion/atspi_focus_source.h"
#include "insertion/paster.h"
#include "paster_x11_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

#include <gtest/gtest.h>

#include <iostream>

namespace talvoro {
namespace {

using namespace talvoro::testing;

// The Qt window's focus as AT-SPI reports it, with a real session and accessibility bus.
class AtspiFocusX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running())
            GTEST_SKIP() << "Xvfb is not installed";
        for (const char* program : {"/usr/bin/dbus-daemon", "/usr/libexec/at-spi-bus-launcher",
                                    "/usr/libexec/at-spi2-registryd"})
            if (!haveProgram(program))
                GTEST_SKIP() << program << " is not installed";
        ::unsetenv("AT_SPI_BUS_ADDRESS");
        ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
        bus.emplace(dir.path());
        ASSERT_TRUE(bus->running());
    }

    // Asks until the application has registered with the accessibility bus.
    std::optional<Paster::Focus> focusOf(const std::string& widget) {
        target.emplace(dir.path(), widget);
        EXPECT_TRUE(target->waitUntilActive());
        std::optional<Paster::Focus> focus;
        std::vector<std::string> notes;
        waitFor(
            [&] {
                notes.clear();
                auto start = std::chrono::steady_clock::now();
                focus = source.systemFocus(notes);
                lookup = std::chrono::steady_clock::now() - start;
                return focus && focus->role != "AXWindow";
            },
            20);
        for (const auto& note : notes)
            std::cout << "note: " << note << "\n";
        return focus;
    }

    XvfbServer xvfb;
    TempDir dir;
    std::optional<SessionBus> bus;
    std::optional<PasteTarget> target;
    AtspiFocusSource source;
    std::chrono::duration<double, std::milli> lookup{};
};

TEST_F(AtspiFocusX11, AFocusedTextFieldReadsAsATextFieldAlsoThroughItsProcess) {
    std::optional<Paster::Focus> focus = focusOf("field");
    ASSERT_TRUE(focus);
    EXPECT_EQ(focus->role, "AXTextField") << focus->note();
    std::cout << "focus lookup: " << lookup.count() << " ms (" << focus->note() << ")\n";
    EXPECT_TRUE(source.available());

    std::vector<std::string> notes;
    focus = source.applicationFocus(target->pid(), notes);
    ASSERT_TRUE(focus) << (notes.empty() ? "" : notes.front());
    EXPECT_EQ(focus->role, "AXTextField");
    EXPECT_FALSE(source.applicationFocus(999999, notes));
    EXPECT_EQ(notes.back(), "приложение 999999 не видно в AT-SPI");
}

TEST_F(AtspiFocusX11, AFocusedButtonRefusesTextAndFocusprobeSaysSo) {
    std::optional<Paster::Focus> focus = focusOf("button");
    ASSERT_TRUE(focus);
    EXPECT_EQ(focus->role, "AXButton") << focus->note();
    ProgramResult run = runProgram(talvoroExecutable() + " focusprobe --delay 0 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("активно: paste_target, роль: AXButton, подроль: push button\n"
                              "вердикт: некуда вставить"),
              std::string::npos)
        << run.output;
}

TEST(AtspiFocusWithoutBus, FocusprobeSaysTheBusIsMissing) {
    XvfbServer xvfb;
    if (!xvfb.running())
        GTEST_SKIP() << "Xvfb is not installed";
    ProgramResult run = runProgram("env -u AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS=disabled: " +
                                   talvoroExecutable() + " focusprobe --delay 0 2>&1");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("шина специальных возможностей (AT-SPI) недоступна — проверка "
                              "фокуса не работает"),
              std::string::npos)
        << run.output;
}

TEST_F(AtspiFocusX11, WakingSwitchesAccessibilityOnForToolkits) {
    const std::string query = "dbus-send --session --print-reply --dest=org.a11y.Bus "
                              "/org/a11y/bus org.freedesktop.DBus.Properties.Get "
                              "string:org.a11y.Status string:IsEnabled 2>&1";
    ProgramResult before = runProgram(query);
    ASSERT_EQ(before.status, 0) << before.output;
    EXPECT_NE(before.output.find("boolean false"), std::string::npos) << before.output;
    source.wakeReporting(0);
    ProgramResult after = runProgram(query);
    EXPECT_NE(after.output.find("boolean true"), std::string::npos) << after.output;
}

} // namespace
} // namespace talvoro
