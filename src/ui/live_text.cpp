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

    if (layOut(live.text, font, width).lines > maxLines) {
        const std::vector<int> starts = wordStarts(live.text);
        int start = starts.back();
        for (auto it = starts.rbegin() + 1; it != starts.rend(); ++it) {
            if (layOut(live.text.mid(*it), font, width).lines > maxLines)
                break;
            start = *it;
        }
        live.text = live.text.mid(start);
        live.interimStart = std::max(0, live.interimStart - start);
    }
    const Laid laid = layOut(live.text, font, width);
    live.size = QSize(std::min(width, static_cast<int>(std::ceil(laid.size.width()))),
                      static_cast<int>(std::ceil(laid.shownHeight)));
    return live;
}

} // namespace talvoro
