#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvoro {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd() { reset(); }

    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }
    int release();
    void reset();

private:
    int fd = -1;
};

// A pipe's two ends, both close-on-exec; nothing on failure.
std::optional<std::pair<UniqueFd, UniqueFd>> makePipe();

struct PipeRead {
    std::optional<std::string> bytes; // nothing when the writer did not finish in time
    bool silent = false;              // the deadline passed
};

// Reads until end of file, or until more than `limit` bytes arrived (the result is then longer
// than `limit`), or until `deadline`.
PipeRead readPipe(int fd, std::size_t limit, std::chrono::steady_clock::time_point deadline);

// A write into a pipe whose reader has gone raises SIGPIPE, which would end the program: a thread
// that writes to readers' pipes blocks it first.
void blockSigpipeOnThisThread();

// Answers to readers, written as their pipes take them so that a slow reader never holds up the
// thread; a reader that takes nothing for `stallLimit`, or is not done after `totalLimit` however
// it trickles, is dropped (it gets end of file). One thread only; `now` is the steady clock's.
class OutgoingTransfers {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds stallLimit{5};
    static constexpr std::chrono::seconds totalLimit{30};

    void add(UniqueFd fd, std::shared_ptr<const std::string> bytes, Clock::time_point now = {});
    void addPollFds(std::vector<pollfd>& fds) const;
    // Writes what each pipe takes now; drops finished, broken, stalled and overdue transfers.
    void progress(Clock::time_point now = {});
    bool empty() const { return transfers.empty(); }

private:
    struct Transfer {
        UniqueFd fd;
        std::shared_ptr<const std::string> bytes;
        std::size_t written = 0;
        Clock::time_point started;
        Clock::time_point lastProgress;
    };
    // True when the transfer is over.
    static bool advance(Transfer& transfer, Clock::time_point now);

    std::list<Transfer> transfers;
};

} // namespace talvoro
