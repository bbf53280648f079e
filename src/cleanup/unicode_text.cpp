#include "cleanup/unicode_text.h"

#include <QChar>
#include <QTextBoundaryFinder>

namespace talvoro::UnicodeText {

QString fromUTF8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUTF8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

qsizetype characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        if (finder.position() > 0)
            ++count;
    return count;
}

std::string firstCharacters(std::string_view text, int count) {
    const QString whole = fromUTF8(text);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    qsizetype end = 0;
    for (int taken = 0; taken < count && finder.toNextBoundary() != -1;)
        if (finder.position() > end) {
            end = finder.position();
            ++taken;
        }
    return toUTF8(whole.left(end));
}

bool isBlank(char32_t c) {
    return c == U'\t' || QChar::category(c) == QChar::Separator_Space;
}

bool isAlphanumeric(char32_t c) {
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

QString trimmedBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    // Zs and tab are all in the basic plane, so one UTF-16 unit is one scalar here.
    while (begin < end && isBlank(text.at(begin).unicode()))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1).unicode()))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace talvoro::UnicodeText
