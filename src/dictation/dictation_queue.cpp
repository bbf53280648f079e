#include "dictation/dictation_queue.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>

#include "base/paths.h"

namespace fs = std::filesystem;

namespace talvoro {

DictationQueue::DictationQueue(std::string directory) : directory_(std::move(directory)) {
    std::error_code error;
    if (!makePrivateFolder(directory_) || !fs::is_directory(directory_, error))
        throw DictationQueueError("не получилось завести очередь " + directory_);
}

std::string DictationQueue::enqueue(const std::string& wav) const {
    const std::string destination = directory_ + "/" + fs::path(wav).filename().string();
    // RENAME_NOREPLACE keeps a queued recording of the same name from being overwritten,
    // even when it appears between a check and the move.
    if (::renameat2(AT_FDCWD, wav.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0)
        return destination;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(destination, ec)))
            return destination;
        error = ::rename(wav.c_str(), destination.c_str()) == 0 ? 0 : errno;
    }
    if (error == 0 || error == EEXIST)
        return destination;
    throw DictationQueueError("не получилось поставить в очередь " + wav + ": " +
                              std::strerror(error));
}

std::vector<std::string> DictationQueue::pending() const {
    std::vector<fs::path> names;
    std::error_code error;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        std::error_code kind;
        if (path.extension() == ".wav" && !it->is_directory(kind))
            names.push_back(path.filename());
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    std::vector<std::string> result;
    result.reserve(names.size());
    for (const fs::path& name : names)
        result.push_back(directory_ + "/" + name.string());
    return result;
}

void DictationQueue::remove(const std::string& path) const {
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace talvoro
