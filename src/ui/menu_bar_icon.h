#pragma once

#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QSizeF>

#include "ui/theme_colors.h"

namespace talvoro {

// The tray's small figure: a rounded head with two eyes and a mouth, whose pupils show the
// state (the body's own colour at rest, `danger` while recording, `warn` with recordings waiting).
class MenuBarIcon {
public:
    struct State {
        enum class Kind { idle, recording, queued };
        Kind kind = Kind::idle;
        float level = 0;     // recording only
        bool silent = false; // recording only: the input is silent, the eyes turn `warn`

        static State idle() { return {}; }
        static State recording(float level, bool silent = false) {
            return {Kind::recording, level, silent};
        }
        static State queued() { return {Kind::queued}; }
        bool operator==(const State&) const = default;
    };

    static constexpr QSizeF size{17, 15}; // logical pixels

    // The figure's outline in logical pixels, y downwards: the head with its eye sockets and
    // mouth cut out, and the two pupils. Everything that draws the figure draws these.
    struct Figure {
        QPainterPath head;
        QPainterPath pupils;
    };
    static Figure figure();

    // The figure in that scheme's colours at that pixel ratio; the image names the application
    // in its "Description" text.
    static QImage image(const State& state, ColorScheme scheme, qreal devicePixelRatio);
    // In the desktop's scheme, at the primary screen's pixel ratio.
    static QImage image(const State& state);
    // In the desktop's scheme, at 1, 2 and 3 times the logical size, for the tray to choose.
    static QIcon icon(const State& state);
};

} // namespace talvoro
