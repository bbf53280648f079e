#pragma once

#include <cstdint>

namespace talvoro {

// The monotonic clock in which captured buffers are stamped. A tick is one nanosecond of
// CLOCK_MONOTONIC, so the timebase is 1/1.
namespace HostTime {

std::uint64_t now();
double seconds(std::uint64_t ticks);
std::uint64_t ticks(double seconds);

} // namespace HostTime

} // namespace talvoro
