#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <optional>

#include "ui/theme_colors.h"

namespace talvoro {

// The status sign at the pill's left; `ok` may carry the icon of the application that got
// the text.
struct PillGlyph {
    enum Kind { ok, record, busy, blocked, fail, wait, plain };
    enum class Motion { none, pop, shake };

    PillGlyph(Kind kind = plain, QImage icon = {}) : kind(kind), icon(std::move(icon)) {}

    Kind kind;
    QImage icon; // shown only with `ok`

    QString text() const;
    // Nothing for `plain`, which keeps the colour it had.
    std::optional<QColor> color(const ThemeColors& colors) const;
    Motion motion() const;
    bool showsIcon() const { return kind == ok && !icon.isNull(); }
};

} // namespace talvoro
