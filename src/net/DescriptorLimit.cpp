#include "net/DescriptorLimit.h"

#include <QDebug>

#include <sys/resource.h>

namespace DescriptorLimit {

long raiseToHardLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        qWarning() << "file descriptor limit: cannot read it";
        return -1;
    }
    const rlim_t before = limit.rlim_cur;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            limit.rlim_cur = before;
    }
    qInfo() << "file descriptor limit: soft" << qulonglong(before) << "->"
            << qulonglong(limit.rlim_cur) << "hard" << qulonglong(limit.rlim_max);
    return long(limit.rlim_cur);
}

} // namespace DescriptorLimit
