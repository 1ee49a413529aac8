#pragma once

#include <cstdint>
#include <ctime>

// CLOCK_MONOTONIC is one clock for all processes on the machine, so send and
// arrival times recorded by different processes can be subtracted.
inline std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
