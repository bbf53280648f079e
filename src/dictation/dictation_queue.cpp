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

namespace {

// Moves without replacing anything: 0, or the errno of the failed move (EEXIST when the name
// is taken).
int moveWithoutReplacing(const std::string& from, const std::string& to) {
    // RENAME_NOREPLACE keeps a queued recording from being overwritten, even when it appears
    // between a check and the move.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS)
        return error;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec)))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

} // namespace

std::string DictationQueue::enqueue(const std::string& wav) const {
    return moveInto(directory_, wav);
}

std::string DictationQueue::setAside(const std::string& wav) const {
    const std::string folder = directory_ + "/unreadable";
    if (!makePrivateFolder(folder))
        throw DictationQueueError("не получилось завести папку " + folder);
    return moveInto(folder, wav);
}

std::string DictationQueue::moveInto(const std::string& folder, const std::string& wav) {
    const fs::path name = fs::path(wav).filename();
    const std::string stem = name.stem().string();
    const std::string extension = name.extension().string();
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::string destination =
            folder + "/" +
            (attempt == 1 ? name.string() : stem + "-" + std::to_string(attempt) + extension);
        const int error = moveWithoutReplacing(wav, destination);
        if (error == 0)
            return destination;
        if (error != EEXIST)
            throw DictationQueueError("не получилось поставить в очередь " + wav + ": " +
                                      std::strerror(error));
        if (sameFile(wav, destination))
            return destination; // a retry of a recording already in the queue
    }
    throw DictationQueueError("не получилось поставить в очередь " + wav +
                              ": все свободные имена заняты");
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
