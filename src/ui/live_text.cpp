#include "ui/live_text.h"

#include <QTextLayout>
#include <cmath>
#include <vector>

namespace talvoro {

namespace {

constexpr int maxLines = 2;

struct Laid {
    int lines = 0;
    QSizeF size;
    qreal shownHeight = 0; // of the lines the pill shows
};

Laid layOut(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    Laid laid;
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
        laid.size.setWidth(std::max(laid.size.width(), line.naturalTextWidth()));
        if (++laid.lines <= maxLines)
            laid.shownHeight = y;
    }
    layout.endLayout();
    laid.size.setHeight(y);
    return laid;
}

std::vector<int> wordStarts(const QString& text) {
    std::vector<int> starts;
    for (int i = 0; i < text.size(); ++i)
        if (!text[i].isSpace() && (i == 0 || text[i - 1].isSpace()))
            starts.push_back(i);
    return starts;
}

QString oneLine(const std::string& text) {
    QString line = QString::fromStdString(text);
    for (QChar& c : line)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return line;
}

// Where the shown text starts: the earliest word start from which the rest fits in two lines,
// else the last word. A later start never needs more lines than an earlier one, so the search
// runs back from the end in growing steps and then halves: its cost follows the tail, not
// the whole dictation.
int tailStart(const QString& text, const QFont& font, int width) {
    const std::vector<int> starts = wordStarts(text);
    const auto fits = [&](size_t word) {
        return layOut(text.mid(starts[word]), font, width).lines <= maxLines;
    };
    size_t good = starts.size() - 1; // fits, or is the last word
    size_t bad = 0;                  // does not fit, once `tooLong`
    bool tooLong = false;
    for (size_t step = 32; !tooLong; step *= 2) {
        if (good < step) {
            if (fits(0))
                return 0;
            tooLong = true;
        } else if (fits(good - step)) {
            good -= step;
        } else {
            bad = good - step;
            tooLong = true;
        }
    }
    while (good - bad > 1) {
        const size_t middle = (good + bad) / 2;
        (fits(middle) ? good : bad) = middle;
    }
    return starts[good];
}

} // namespace

int LiveText::lineCount(const QString& text, const QFont& font, int width) {
    return layOut(text, font, width).lines;
}

LiveText LiveText::make(const DictationSnapshot& snapshot, const QFont& font, int width) {
    LiveText live;
    live.text = oneLine(snapshot.text);
    live.interimStart = live.text.size();
    if (snapshot.interim && !snapshot.interim->empty()) {
        if (!live.text.isEmpty())
            live.text += ' ';
        live.interimStart = live.text.size();
        live.text += oneLine(*snapshot.interim);
    }
    if (live.text.trimmed().isEmpty())
        return {};

    const int start = tailStart(live.text, font, width);
    if (start > 0) {
        live.text = live.text.mid(start);
        live.interimStart = std::max(0, live.interimStart - start);
    }
    const Laid laid = layOut(live.text, font, width);
    live.size = QSize(std::min(width, static_cast<int>(std::ceil(laid.size.width()))),
                      static_cast<int>(std::ceil(laid.shownHeight)));
    return live;
}

} // namespace talvoro
