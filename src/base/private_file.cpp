#include "base/private_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/paths.h"

namespace talvoro::PrivateFile {

namespace {

[[noreturn]] void fail(const std::string& path) {
    throw PrivateFileError("не получилось записать " + path + ": " + std::strerror(errno));
}

} // namespace

void replace(const std::string& path, const std::string& text) {
    std::error_code error;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, error))
        if (auto resolved = std::filesystem::weakly_canonical(path, error); !error)
            target = resolved;
    const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    if (!std::filesystem::is_directory(folder, error) && !makePrivateFolder(folder))
        fail(folder);
    std::string temporary = target.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        fail(target.string());
    bool written = ::fchmod(fd, 0600) == 0;
    for (size_t at = 0; written && at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        at += n > 0 ? static_cast<size_t>(n) : 0;
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int cause = errno;
        ::unlink(temporary.c_str());
        errno = cause;
        fail(target.string());
    }
}

} // namespace talvoro::PrivateFile
