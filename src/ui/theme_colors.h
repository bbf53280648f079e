#pragma once

#include <QColor>
#include <optional>

namespace talvoro {

enum class ColorScheme { light, dark };

// The desktop's scheme, judged by the lightness of the application palette's window colour.
ColorScheme desktopColorScheme();

// The pill's and the tray figure's colours, one set per scheme.
struct ThemeColors {
    QColor surface;
    QColor border;
    QColor text;
    QColor secondary;
    QColor accent;
    QColor ok;
    QColor warn;
    QColor danger;

    static const ThemeColors& of(ColorScheme scheme);
};

// The colour of ordinary text on a window of that scheme: the palette's own when the desktop
// has that scheme, otherwise the theme's text colour.
QColor windowTextColor(ColorScheme scheme);

} // namespace talvoro
