#include "cleanup/whisper_noise.h"

#include <QSet>
#include <QTextBoundaryFinder>

#include "cleanup/unicode_text.h"

namespace talvoro::WhisperNoise {

namespace {

const QSet<QString>& phrases() {
    static const QSet<QString> set{
        QStringLiteral("продолжение следует"),
        QStringLiteral("спасибо за просмотр"),
        QStringLiteral("спасибо за внимание"),
        QStringLiteral("подписывайтесь на канал"),
        QStringLiteral("субтитры сделал lemvask"),
        QStringLiteral("редактор субтитров а вельдин корректор а крамова"),
        QStringLiteral("続きは次回"),
    };
    return set;
}

const QString star = QStringLiteral("*");
const QString note = QStringLiteral("♪");

bool isMarker(QStringView c) {
    return c == star || c == note;
}

// A segment being built, with its length in characters.
struct Segment {
    QString text;
    qsizetype length = 0;

    void append(QStringView c) {
        text += c;
        ++length;
    }
};

bool enclosedIn(const QString& text, const QString& open, const QString& close) {
    return text.startsWith(open) && text.endsWith(close);
}

} // namespace

QStringList split(const QString& text) {
    QStringList segments;
    Segment current;
    int depth = 0;
    bool inMarker = false;
    auto finish = [&](const QString& segment) {
        segments.append(segment);
        current = Segment();
    };
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype start = 0, end; (end = boundaries.toNextBoundary()) != -1; start = end) {
        if (end <= start)
            continue;
        const QStringView c = QStringView(text).mid(start, end - start);
        if (c == u"(" || c == u"[") {
            if (depth == 0 && current.length > 0)
                finish(current.text);
            ++depth;
            current.append(c);
        } else if (c == u")" || c == u"]") {
            current.append(c);
            if (--depth <= 0) {
                finish(current.text);
                depth = 0;
            }
        } else if (isMarker(c)) {
            current.append(c);
            if (inMarker) {
                finish(current.text);
                inMarker = false;
            } else if (current.length < 2) {
                inMarker = true;
            } else {
                finish(current.text.chopped(c.size()));
                current.append(c);
                inMarker = true;
            }
        } else {
            current.append(c);
        }
    }
    if (current.length > 0)
        segments.append(current.text);

    QStringList result;
    for (const QString& segment : segments)
        if (QString trimmed = segment.trimmed(); !trimmed.isEmpty())
            result.append(trimmed);
    return result;
}

QString normalize(const QString& text) {
    QString lowered = text.toLower();
    lowered.replace(u'ё', u'е');
    QString kept;
    kept.reserve(lowered.size());
    for (char32_t c : lowered.toUcs4()) {
        if (UnicodeText::isAlphanumeric(c))
            kept.append(QString::fromUcs4(&c, 1));
        else
            kept.append(u' ');
    }
    return kept.split(u' ', Qt::SkipEmptyParts).join(u' ');
}

bool isNoise(const QString& segment) {
    const QString text = segment.trimmed();
    if (text.isEmpty())
        return true;
    if (UnicodeText::characterCount(text) >= 2 &&
        (enclosedIn(text, star, star) ||
         enclosedIn(text, QStringLiteral("["), QStringLiteral("]")) ||
         enclosedIn(text, QStringLiteral("("), QStringLiteral(")")) ||
         enclosedIn(text, note, note)))
        return true;
    return phrases().contains(normalize(text));
}

std::string clean(const std::string& text) {
    QStringList kept;
    for (const QString& segment : split(UnicodeText::fromUTF8(text)))
        if (!isNoise(segment))
            kept.append(segment);
    return UnicodeText::toUTF8(kept.join(u' ').trimmed());
}

} // namespace talvoro::WhisperNoise
