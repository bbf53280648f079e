#include "insertion/pipe_transfer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace talvoro {

namespace {

using Clock = std::chrono::steady_clock;

sigset_t sigpipeOnly() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

// The SIGPIPE a write into a closed pipe left pending on this thread, where it is blocked.
void discardPendingSigpipe() {
    const sigset_t set = sigpipeOnly();
    const timespec now{0, 0};
    while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
    }
}

} // namespace

void blockSigpipeOnThisThread() {
    const sigset_t set = sigpipeOnly();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    return std::exchange(fd, -1);
}

void UniqueFd::reset() {
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
}

std::optional<std::pair<UniqueFd, UniqueFd>> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    return std::pair{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

PipeRead readPipe(int fd, std::size_t limit, Clock::time_point deadline) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0)
            return {std::nullopt, true};
        pollfd each{fd, POLLIN, 0};
        const int ready =
            ::poll(&each, 1, static_cast<int>(std::min<std::int64_t>(left.count() + 1, 1000)));
        if (ready < 0 && errno != EINTR)
            return {};
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            return {std::move(bytes), false};
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > limit)
            return {std::move(bytes), false};
    }
}

void OutgoingTransfers::add(UniqueFd fd, std::shared_ptr<const std::string> bytes,
                            Clock::time_point now) {
    if (now == Clock::time_point{})
        now = Clock::now();
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    transfers.push_back({std::move(fd), std::move(bytes), 0, now, now});
    if (advance(transfers.back(), now))
        transfers.pop_back();
}

void OutgoingTransfers::addPollFds(std::vector<pollfd>& fds) const {
    for (const Transfer& transfer : transfers)
        fds.push_back({transfer.fd.get(), POLLOUT, 0});
}

void OutgoingTransfers::progress(Clock::time_point now) {
    if (now == Clock::time_point{})
        now = Clock::now();
    transfers.remove_if([&](Transfer& transfer) {
        return advance(transfer, now) || now - transfer.lastProgress > stallLimit ||
               now - transfer.started > totalLimit;
    });
}

bool OutgoingTransfers::advance(Transfer& transfer, Clock::time_point now) {
    while (transfer.written < transfer.bytes->size()) {
        const ssize_t done = ::write(transfer.fd.get(), transfer.bytes->data() + transfer.written,
                                     transfer.bytes->size() - transfer.written);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0 && errno == EAGAIN)
            return false;
        if (done < 0) {
            if (errno == EPIPE)
                discardPendingSigpipe();
            return true;
        }
        transfer.written += static_cast<std::size_t>(done);
        transfer.lastProgress = now;
    }
    return true;
}

} // namespace talvoro
