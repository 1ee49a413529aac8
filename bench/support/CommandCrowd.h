#pragma once

// Helpers of the benchmarks that run a crowd of command viewers in a second process.

#include "net/DescriptorLimit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <cstdio>

#include <sys/resource.h>

#include <functional>

namespace CommandCrowd {

// The start-up both the benchmark and its crowd process share: only warnings reach stderr, and
// the descriptor limit is raised for a thousand sockets. Started as a crowd
// ("--crowd PORT COUNT"), runs `crowd` and gives its exit code; otherwise -1.
inline int startOrRunCrowd(const QStringList &args, int (*crowd)(quint16 port, int viewers))
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type >= QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    DescriptorLimit::raiseToHardLimit();
    if (args.value(1) == "--crowd")
        return crowd(quint16(args.value(2).toUInt()), args.value(3).toInt());
    return -1;
}

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
