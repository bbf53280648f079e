#include "audio/host_time.h"

#include <cmath>
#include <time.h>

namespace talvoro::HostTime {

std::uint64_t now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

double seconds(std::uint64_t ticks) {
    return static_cast<double>(ticks) / 1e9;
}

std::uint64_t ticks(double seconds) {
    return seconds <= 0 ? 0 : static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}

} // namespace talvoro::HostTime
