#pragma once

// Helpers of the benchmarks that run a crowd of command viewers in a second process.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>

#include <sys/resource.h>

#include <functional>

namespace CommandCrowd {

// A loopback address of its own for each viewer, so that limits per address do not apply.
inline QHostAddress viewerAddress(int index)
{
    return QHostAddress(QString("127.0.%1.%2").arg(1 + index / 250).arg(1 + index % 250));
}

// User and system CPU time of this process so far.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until `done` or `timeoutMs`; false on the timeout.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace CommandCrowd
