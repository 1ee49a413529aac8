#pragma once

#include <sys/types.h>

#include <string>

// What the kernel accounts for one running process.
namespace ProcessUsage {

// User plus system time of all its threads, in seconds (clock-tick resolution).
double cpuSeconds(pid_t pid);
// Time its main thread spent runnable but waiting for a CPU, in seconds.
double runQueueWaitSeconds(pid_t pid);
// A "kB" field of /proc/<pid>/status, such as "VmRSS" or "VmHWM", in bytes.
long long statusBytes(pid_t pid, const std::string &field);

} // namespace ProcessUsage
