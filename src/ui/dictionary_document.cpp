#include "ui/dictionary_document.h"

#include <QStringList>

namespace talvoro {

namespace {

// A rule as the dictionary reads it: one "=", a written form that is not empty.
bool ruleOf(const QString& line, DictionaryDocument::Row& row) {
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
        return false;
    const QStringList sides = trimmed.split(u'=');
    if (sides.size() != 2 || sides[1].trimmed().isEmpty() || sides[0].trimmed().isEmpty())
        return false;
    row = {sides[0].trimmed(), sides[1].trimmed()};
    return true;
}

std::string lineOf(const DictionaryDocument::Row& row) {
    return (row.heard.trimmed() + " = " + row.written.trimmed()).toStdString();
}

bool usable(const DictionaryDocument::Row& row) {
    DictionaryDocument::Row parsed;
    return !row.heard.contains(u'\n') && !row.written.contains(u'\n') &&
           ruleOf(QString::fromStdString(lineOf(row)), parsed);
}

} // namespace

DictionaryDocument::DictionaryDocument(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t lf = text.find('\n', at);
        Line line;
        line.bytes = text.substr(at, lf == std::string::npos ? std::string::npos : lf - at);
        if (lf != std::string::npos)
            line.end.push_back('\n');
        if (!line.bytes.empty() && line.bytes.back() == '\r') {
            line.bytes.pop_back();
            line.end.insert(line.end.begin(), '\r');
        }
        Row row;
        line.rule = ruleOf(QString::fromStdString(line.bytes), row);
        if (line.rule)
            rows_.push_back(row);
        lines_.push_back(std::move(line));
        at = lf == std::string::npos ? text.size() : lf + 1;
    }
}

std::string DictionaryDocument::text(const std::vector<Row>& rows) const {
    std::vector<Row> kept;
    for (const Row& row : rows)
        if (usable(row))
            kept.push_back(row);
    std::string out;
    std::string end = "\n";
    size_t next = 0;
    for (const Line& line : lines_) {
        if (line.end == "\r\n")
            end = line.end;
        if (!line.rule) {
            out += line.bytes + line.end;
            continue;
        }
        if (next < kept.size())
            out += lineOf(kept[next++]) + (line.end.empty() ? end : line.end);
    }
    for (; next < kept.size(); ++next) {
        if (!out.empty() && out.back() != '\n')
            out += end;
        out += lineOf(kept[next]) + end;
    }
    return out;
}

} // namespace talvoro
