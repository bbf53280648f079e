#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace talvoro {

// The application whose window is active.
struct FrontmostApp {
    // The application's name: its desktop entry's, else its window class; never the window
    // title, which may hold a mail subject or a page title.
    std::optional<std::string> name;
    std::optional<QImage> icon;
    std::int64_t pid = 0;       // 0 when the window does not tell
    std::string windowClass;    // WM_CLASS class part, empty when unknown
    std::string windowInstance; // WM_CLASS instance part, empty when unknown

    // A terminal emulator by its window class or Wayland app_id (see namesTerminal).
    bool isTerminal() const;
};

// Whether an application's name (a window class, an app_id, an AT-SPI application name) is a
// terminal emulator's: kitty, alacritty, konsole, xterm, urxvt, rxvt, st, tilix, terminator,
// yakuake, foot, or any name holding "terminal". Case does not matter.
bool namesTerminal(const std::string& name);

class FrontmostAppSource {
public:
    virtual ~FrontmostAppSource() = default;
    // Nothing when no window is active. Any thread; bounded time.
    virtual std::optional<FrontmostApp> current() = 0;
};

// EWMH (_NET_ACTIVE_WINDOW and friends) on its own X connection; when there is no X display it
// returns a source whose `current` is always empty.
std::unique_ptr<FrontmostAppSource> makeSystemFrontmostAppSource();

} // namespace talvoro
