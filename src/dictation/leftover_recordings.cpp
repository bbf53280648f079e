#include "dictation/leftover_recordings.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "audio/wav_format.h"
#include "audio/wav_reader.h"

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

void finishLeftoverHeader(const std::string& path) {
    try {
        const WAVReader reader(path, true);
        if (reader.dataOffset != static_cast<std::int64_t>(WAVFormat::headerBytes))
            return;
        const auto bytes = static_cast<std::uint64_t>(reader.sampleCount * reader.channels) *
                           WAVFormat::bytesPerSample;
        const auto header = WAVFormat::header(reader.sampleRate, reader.channels, bytes);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, header.data(), header.size(), 0);
        ::close(fd);
    } catch (const std::exception&) {
        // Not a recording of ours: it goes into the queue as it is.
    }
}

} // namespace talvoro
