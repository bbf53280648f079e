#include "ui/theme_colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace talvoro {

ColorScheme desktopColorScheme() {
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return window.lightness() < 128 ? ColorScheme::dark : ColorScheme::light;
}

const ThemeColors& ThemeColors::of(ColorScheme scheme) {
    static const ThemeColors dark{QColor(0x262624), QColor(0x393733), QColor(0xf0eee6),
                                  QColor(0xa8a29a), QColor(0xd97757), QColor(0x7cbd8b),
                                  QColor(0xe0a458), QColor(0xe5675c)};
    static const ThemeColors light{QColor(0xfdfcf8), QColor(0xe6e2d8), QColor(0x1f1e1d),
                                   QColor(0x605951), QColor(0xc96442), QColor(0x3e8155),
                                   QColor(0xb4690e), QColor(0xb3261e)};
    return scheme == ColorScheme::dark ? dark : light;
}

QColor windowTextColor(ColorScheme scheme) {
    if (desktopColorScheme() == scheme)
        return QGuiApplication::palette().color(QPalette::WindowText);
    return ThemeColors::of(scheme).text;
}

} // namespace talvoro
