#pragma once

#include <QString>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvoro {

// The user's replacement dictionary: heard forms replaced by written forms, as whole
// words and ignoring letter case.
class NameDict {
public:
    struct Rule {
        QString from; // trimmed, never empty
        QString to;   // trimmed, never empty; inserted exactly as written
        bool operator==(const Rule&) const = default;
    };

    static const char* const templateText;

    NameDict() = default;
    // Never fails: malformed lines are skipped.
    explicit NameDict(const std::string& text);

    // Empty for no path, or a file that is missing, unreadable or not UTF-8.
    static NameDict load(const std::optional<std::string>& path);
    // Creates the file from the template (folders 0700, file 0600) unless something is
    // already there. Returns the same path.
    static std::string ensure(const std::string& path);

    const std::vector<Rule>& rules() const { return rules_; }
    bool isEmpty() const { return rules_.empty(); }

    std::string apply(const std::string& text) const;
    QString apply(const QString& text) const;

private:
    std::vector<Rule> rules_; // longest `from` first, file order among equals
};

// Creating the dictionary file failed; what() names the file and the reason.
class NameDictError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace talvoro
