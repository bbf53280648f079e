#pragma once

#include <QApplication>
#include <cstdlib>
#include <memory>

namespace talvoro::testing {

// One offscreen QApplication per test process, made on first use: layout and snapshots need
// no X server.
inline QApplication& guiApp() {
    static std::unique_ptr<QApplication> app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "talvoro-test";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

} // namespace talvoro::testing
