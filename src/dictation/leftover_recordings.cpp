#include "dictation/leftover_recordings.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace talvoro {

std::vector<std::string> leftoverRecordings(const std::string& folder, std::chrono::seconds quiet) {
    static const QRegularExpression recordingName(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2} \d{6}(-\d+)?\.wav$)"));
    const auto latest = fs::file_time_type::clock::now() - quiet;
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (!it->is_regular_file(ignored) ||
            !recordingName.match(QString::fromStdString(it->path().filename().string())).hasMatch())
            continue;
        const auto written = fs::last_write_time(it->path(), ignored);
        if (!ignored && written <= latest)
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace talvoro
