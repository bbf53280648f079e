#include "ui/pill_glyph.h"

namespace talvoro {

QString PillGlyph::text() const {
    switch (kind) {
    case ok:
        return QStringLiteral("✓");
    case blocked:
        return QStringLiteral("✕");
    case record:
    case busy:
    case fail:
    case wait:
        return QStringLiteral("●");
    case plain:
        break;
    }
    return {};
}

std::optional<QColor> PillGlyph::color(const ThemeColors& colors) const {
    switch (kind) {
    case ok:
        return colors.ok;
    case record:
        return colors.accent;
    case busy:
        return colors.secondary;
    case blocked:
    case fail:
        return colors.danger;
    case wait:
        return colors.warn;
    case plain:
        break;
    }
    return std::nullopt;
}

PillGlyph::Motion PillGlyph::motion() const {
    switch (kind) {
    case ok:
        return Motion::pop;
    case blocked:
    case fail:
        return Motion::shake;
    default:
        return Motion::none;
    }
}

} // namespace talvoro
