#pragma once

#include <QDateTime>
#include <string>
#include <vector>

namespace talvoro {

// The last delivered texts, newest first, for the menu's "Последние диктовки": kept in one
// file of the state folder, readable by its owner only, never more than `limit` of them.
class RecentDictations {
public:
    static constexpr int limit = 10;

    struct Entry {
        std::string text;
        std::string app; // empty when unknown
        QDateTime time;
        bool operator==(const Entry&) const = default;
    };

    explicit RecentDictations(std::string path);

    std::vector<Entry> entries() const;
    // Write failures go to the journal: a dictation is never held up by its history.
    void add(const Entry& entry);
    void clear();

    // "первые слова текста… · Kate · 14:05", as the menu shows an entry.
    static std::string title(const Entry& entry);

private:
    std::string path_;
};

} // namespace talvoro
