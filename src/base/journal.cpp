#include "base/journal.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "base/paths.h"

namespace talvoro {

Journal::Journal(std::string path) : path_(std::move(path)) {
    makePrivateFolder(std::filesystem::path(path_).parent_path().string());
}

Journal::~Journal() {
    queue.sync([this] {
        if (handle >= 0)
            ::close(handle);
        handle = -1;
    });
}

Journal& Journal::shared() {
    static Journal journal(Paths::state("log"));
    return journal;
}

std::string Journal::stamp(std::chrono::system_clock::time_point time) {
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m %H:%M:%S", &local);
    return text;
}

void Journal::note(const std::string& text) {
    std::string line = stamp(std::chrono::system_clock::now()) + " " + text + "\n";
    queue.async([this, line = std::move(line)] { write(line); });
}

void Journal::flush() {
    queue.sync([] {});
}

void Journal::write(const std::string& line) {
    if (handle < 0) {
        handle = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (handle < 0)
            return;
        off_t end = ::lseek(handle, 0, SEEK_END);
        written = end < 0 ? 0 : end;
    }
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(handle, data, left);
        if (n <= 0)
            break;
        data += n;
        left -= static_cast<size_t>(n);
    }
    written += static_cast<std::int64_t>(line.size());
    if (written >= rotationBytes)
        rotate();
}

void Journal::rotate() {
    ::close(handle);
    handle = -1;
    written = 0;
    std::string old = path_ + ".1";
    std::remove(old.c_str());
    std::rename(path_.c_str(), old.c_str());
}

} // namespace talvoro
