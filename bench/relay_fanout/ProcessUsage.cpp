#include "ProcessUsage.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ProcessUsage {

double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces; the fields after it are fixed.
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        throw std::runtime_error("no /proc stat for pid " + std::to_string(pid));
    std::istringstream fields(text.substr(nameEnd + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field)
        fields >> skipped;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    fields >> userTicks >> systemTicks;
    return static_cast<double>(userTicks + systemTicks) / sysconf(_SC_CLK_TCK);
}

double runQueueWaitSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long runningNs = 0;
    unsigned long long waitingNs = 0;
    if (!(in >> runningNs >> waitingNs))
        throw std::runtime_error("no /proc schedstat for pid " + std::to_string(pid));
    return waitingNs / 1e9;
}

long long statusBytes(pid_t pid, const std::string &field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::stoll(line.substr(field.size() + 1)) * 1024;
    }
    throw std::runtime_error("no " + field + " for pid " + std::to_string(pid));
}

} // namespace ProcessUsage
