#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <thread>

namespace talvoro::testing {

// One QCoreApplication per test process, made on first use. Its loop runs without GLib, as
// the program's does: AT-SPI is then read only off a GLib loop.
inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "talvoro-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = [] {
        qputenv("QT_NO_GLIB", "1");
        return new QCoreApplication(argc, argv);
    }();
    return *app;
}

// Runs the main thread's events until the condition holds; false once `seconds` have passed.
inline bool processUntil(const std::function<bool()>& condition, double seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace talvoro::testing
