#pragma once

#include <QString>
#include <string>
#include <vector>

namespace talvoro {

// The replacement dictionary as the settings window edits it: its rule lines become rows of
// two columns (what is heard, what to write), and everything else (comments, blank lines,
// lines that are not rules) stays where it was, byte for byte.
class DictionaryDocument {
public:
    struct Row {
        QString heard; // one or more forms separated by commas
        QString written;
        bool operator==(const Row&) const = default;
    };

    explicit DictionaryDocument(const std::string& text = {});

    const std::vector<Row>& rows() const { return rows_; }

    // The file's new text: the rows take the places of the old rule lines in order, rows
    // beyond them go at the end, rule lines beyond the rows go away. A row with an empty side
    // is left out.
    std::string text(const std::vector<Row>& rows) const;

private:
    struct Line {
        std::string bytes; // without its line end
        std::string end;   // "\n", "\r\n" or nothing for a last line without one
        bool rule = false;
    };
    std::vector<Line> lines_;
    std::vector<Row> rows_;
};

} // namespace talvoro
