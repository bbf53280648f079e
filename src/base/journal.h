#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/serial_queue.h"

namespace talvoro {

// The append-only diagnostic log: "log" grows to 2 MiB, then becomes "log.1".
class Journal {
public:
    static constexpr std::int64_t rotationBytes = 2 * 1024 * 1024;

    explicit Journal(std::string path);
    ~Journal();

    static Journal& shared(); // Paths::state("log")

    // Never blocks on the file and never fails; the time is taken now.
    void note(const std::string& text);
    // Waits until every line noted so far has been handled.
    void flush();

    const std::string& path() const { return path_; }

    // "dd.MM HH:mm:ss" in the user's time zone.
    static std::string stamp(std::chrono::system_clock::time_point time);

private:
    void write(const std::string& line);
    void rotate();

    const std::string path_;
    int handle = -1;          // touched only on queue
    std::int64_t written = 0; // touched only on queue
    SerialQueue queue{"ostrel.journal"};
};

} // namespace talvoro
