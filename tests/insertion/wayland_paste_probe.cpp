// Inserts one text the way the program does in a wlroots session (data-control clipboard, virtual
// keyboard, sway's focused window, AT-SPI focus), prints the result, and keeps serving the
// clipboard it gave back until the file named second appears: a Wayland selection lives only as
// long as the client that holds it.
#include "insertion/atspi_focus_source.h"
#include "insertion/data_control_pasteboard.h"
#include "insertion/paster.h"
#include "insertion/sway_frontmost_app.h"
#include "insertion/virtual_keyboard_keystroke.h"

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
    using namespace talvoro;
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::cerr << "usage: wayland_paste_probe TEXT STOPFILE\n";
        return 2;
    }
    try {
        InsertionSeams seams;
        auto pasteboard = std::make_shared<DataControlPasteboard>();
        std::cout << "protocol: " << pasteboard->protocolName() << std::endl;
        seams.pasteboard = pasteboard;
        seams.primary = makeWaylandDataControlPasteboard(WaylandSelection::primary);
        seams.keystroke = makeVirtualKeyboardKeystroke();
        seams.frontmost = makeSwayFrontmostAppSource();
        seams.focus = std::make_shared<AtspiFocusSource>();
        const Paster::Result result = Paster::paste(argv[1], seams);
        std::optional<FrontmostApp> front = seams.frontmost->current();
        std::cout << "app: " << (front ? front->windowClass : "?") << "\n"
                  << "taken: " << result.takenNote() << "\n"
                  << "restored: " << result.restored << "\n"
                  << "overwritten: " << result.overwrittenByOthers << std::endl;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!std::filesystem::exists(argv[2]) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } catch (const std::exception& failure) {
        std::cout << "failed: " << failure.what() << std::endl;
        return 1;
    }
    return 0;
}
