#pragma once

#include <sys/resource.h>

// A thousand viewers need a thousand descriptors in the relay and in the
// viewer processes; take whatever the hard limit allows.
inline void raiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}
