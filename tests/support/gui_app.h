#pragma once

#include <QApplication>
#include <QInputDevice>
#include <cstdlib>
#include <memory>

namespace talvoro::testing {

// One offscreen QApplication per test process, made on first use: layout and snapshots need
// no X server.
inline QApplication& guiApp() {
    // Qt's list of input devices is made before the application, so it outlives it: an event
    // made in a test registers a device, which the application deletes at exit from that list.
    static const auto devicesFirst = QInputDevice::devices();
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
