#pragma once

#include <QFont>
#include <QSize>
#include <QString>

#include "recognition/dictation_snapshot.h"

namespace talvoro {

// The recognised text under the pill's row: at most two lines, wrapped at words, keeping the
// end when the whole does not fit.
struct LiveText {
    QString text;
    int interimStart = 0; // where the tentative part (drawn in the secondary colour) begins
    QSize size;           // laid out at the live-text width

    bool isEmpty() const { return text.isEmpty(); }

    // Committed text, then a space and the interim text when both are there; the start cut
    // away at a word start so that the rest fits in two lines (the last word alone when not
    // even that would fit).
    static LiveText make(const DictationSnapshot& snapshot, const QFont& font, int width);

    // How many lines the text takes at that width.
    static int lineCount(const QString& text, const QFont& font, int width);
};

} // namespace talvoro
