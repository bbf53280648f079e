#pragma once

#include <QApplication>
#include <cstdlib>
#include <memory>

namespace talvoro::testing {

// One QApplication per test process, made on first use. Offscreen unless the test asks for
// the X server DISPLAY names (start the test's own Xvfb first).
inline QApplication& guiApp(bool onDisplay = false) {
    static std::unique_ptr<QApplication> app = [onDisplay] {
        ::setenv("QT_QPA_PLATFORM", onDisplay ? "xcb" : "offscreen", 1);
        static int argc = 1;
        static char name[] = "talvoro-test";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

} // namespace talvoro::testing
