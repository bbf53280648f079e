#include "cleanup/hesitation.h"

#include <QStringList>

#include "cleanup/unicode_text.h"

namespace talvoro::Hesitation {

namespace {

const QString letters = QStringLiteral("эмаыуио");
const QString trailing = QStringLiteral(",;:—-…");

bool isStrippable(char32_t c) {
    return QChar::isPunct(c) || trailing.contains(QChar(c)) || UnicodeText::isBlank(c);
}

// The word without the punctuation and blanks around it.
QString core(const QString& word) {
    const QList<uint> scalars = word.toUcs4();
    qsizetype begin = 0;
    qsizetype end = scalars.size();
    while (begin < end && isStrippable(scalars[begin]))
        ++begin;
    while (end > begin && isStrippable(scalars[end - 1]))
        --end;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()) + begin,
                             end - begin);
}

bool isSentenceEnd(QChar c) {
    return c == u'.' || c == u'!' || c == u'?';
}

bool endsSentence(const QString& word) {
    return !word.isEmpty() && (isSentenceEnd(word.back()) || word.back() == u'…');
}

// Puts a filler's sentence mark on the word before it. A word that already ends a sentence
// keeps its own mark; a comma, semicolon or colon gives way to the stronger mark.
void attach(QString& word, QChar mark) {
    if (endsSentence(word))
        return;
    if (!word.isEmpty() && (word.back() == u',' || word.back() == u';' || word.back() == u':'))
        word.chop(1);
    word.append(mark);
}

} // namespace

bool isMumble(const QString& word) {
    const QStringList pieces = core(word).toLower().split(u'-', Qt::KeepEmptyParts);
    if (pieces.size() < 2)
        return false;
    const QString& first = pieces.front();
    // One scalar from the set; a letter with a combining mark is not in it.
    if (first.size() != 1 || !letters.contains(first))
        return false;
    for (const QString& piece : pieces)
        if (piece != first)
            return false;
    return true;
}

QString clean(const QString& text) {
    QStringList output;
    QChar carried;
    for (const QString& piece : text.split(u' ', Qt::SkipEmptyParts)) {
        if (isMumble(piece)) {
            // A mark with no kept word before it has nothing to end, so it is dropped.
            if (isSentenceEnd(piece.back()) && !output.isEmpty())
                carried = piece.back();
            continue;
        }
        if (!carried.isNull()) {
            attach(output.back(), carried);
            carried = QChar();
        }
        output.append(piece);
    }
    if (!carried.isNull())
        attach(output.back(), carried);
    return output.join(u' ').trimmed();
}

std::string clean(const std::string& text) {
    return UnicodeText::toUTF8(clean(UnicodeText::fromUTF8(text)));
}

bool isMumble(const std::string& word) {
    return isMumble(UnicodeText::fromUTF8(word));
}

} // namespace talvoro::Hesitation
