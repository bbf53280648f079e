#include "cleanup/name_dict.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "base/paths.h"
#include "base/settings_file.h"
#include "cleanup/unicode_text.h"

namespace talvoro {

const char* const NameDict::templateText =
    "# Словарь замен для диктовки.\n"
    "#\n"
    "# Распознавание не знает ваших фамилий, названий и терминов и пишет их как слышит.\n"
    "# Здесь они правятся уже на этом компьютере, после распознавания: список имён\n"
    "# никуда не отправляется.\n"
    "#\n"
    "# По строке на правило, слева — как слышится (можно несколько через запятую),\n"
    "# справа — как писать. Регистр не важен, замена идёт по целым словам.\n"
    "#\n"
    "# Примеры — сотрите и напишите свои:\n"
    "#\n"
    "# эльсов = lsof\n"
    "# моих тест, мой тест = make test\n"
    "# пронт, промп = промпт\n";

namespace {

const QRegularExpression& lineBreaks() {
    static const QRegularExpression breaks(QStringLiteral("[\\n\\r\\x{0B}\\x{0C}\\x{85}\\x{2028}"
                                                          "\\x{2029}]"));
    return breaks;
}

// Writes the whole text to a fresh file next to `path`, then links it into place, so
// that a reader never sees half a file and an existing file is never replaced.
void writeNewFileAtomically(const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data()); // mode 0600
    if (fd < 0)
        throw NameDictError("не получилось создать словарь " + path + ": " + std::strerror(errno));
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            throw NameDictError("не получилось записать словарь " + path + ": " +
                                std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced) {
        ::unlink(temporary.c_str());
        throw NameDictError("не получилось записать словарь " + path + ": " +
                            std::strerror(syncError));
    }
    int linkError = ::link(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    if (linkError != 0 && linkError != EEXIST)
        linkError = ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    ::unlink(temporary.c_str());
    if (linkError != 0 && linkError != EEXIST)
        throw NameDictError("не получилось записать словарь " + path + ": " +
                            std::strerror(linkError));
}

} // namespace

NameDict::NameDict(const std::string& text) {
    const QStringList lines = UnicodeText::fromUTF8(text).split(lineBreaks());
    for (const QString& raw : lines) {
        const QString line = UnicodeText::trimmedBlanks(raw);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList sides = line.split(u'=');
        if (sides.size() != 2)
            continue;
        const QString to = UnicodeText::trimmedBlanks(sides[1]);
        if (to.isEmpty())
            continue;
        for (const QString& item : sides[0].split(u',')) {
            const QString from = UnicodeText::trimmedBlanks(item);
            if (!from.isEmpty())
                rules_.push_back({from, to});
        }
    }
    std::vector<std::pair<qsizetype, Rule>> measured;
    measured.reserve(rules_.size());
    for (Rule& rule : rules_)
        measured.emplace_back(UnicodeText::characterCount(rule.from), std::move(rule));
    std::stable_sort(measured.begin(), measured.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    rules_.clear();
    for (auto& entry : measured)
        rules_.push_back(std::move(entry.second));
}

NameDict NameDict::load(const std::optional<std::string>& path) {
    if (!path)
        return {};
    QFile file(QString::fromStdString(*path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const std::string text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (file.error() != QFileDevice::NoError || !SettingsFile::isValidUTF8(text))
        return {};
    return NameDict(text);
}

std::string NameDict::ensure(const std::string& path) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return path;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!folder.empty() && !makePrivateFolder(folder))
        throw NameDictError("не получилось создать папку " + folder + " для словаря");
    writeNewFileAtomically(path, templateText);
    return path;
}

QString NameDict::apply(const QString& text) const {
    if (rules_.empty() || text.isEmpty())
        return text;
    QString result = text;
    for (const Rule& rule : rules_) {
        const QRegularExpression expression("\\b" + QRegularExpression::escape(rule.from) + "\\b",
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::UseUnicodePropertiesOption);
        if (!expression.isValid())
            continue;
        // Built by hand: QString::replace would read back-references in `to`.
        QString replaced;
        qsizetype last = 0;
        for (auto matches = expression.globalMatch(result); matches.hasNext();) {
            const QRegularExpressionMatch match = matches.next();
            replaced += QStringView(result).mid(last, match.capturedStart() - last);
            replaced += rule.to;
            last = match.capturedEnd();
        }
        if (last == 0 && replaced.isEmpty())
            continue;
        replaced += QStringView(result).mid(last);
        result = std::move(replaced);
    }
    return result;
}

std::string NameDict::apply(const std::string& text) const {
    if (rules_.empty() || text.empty())
        return text;
    return UnicodeText::toUTF8(apply(UnicodeText::fromUTF8(text)));
}

} // namespace talvoro
