#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/resource.h>
#include <sys/types.h>

// A helper process that a test starts and ends itself, by its process id. It dies with the test
// process even when that crashes (parent-death signal), so no helper outlives a run.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess() { stop(); }

    struct Options
    {
        QStringList environment; // "NAME=value" entries added to the inherited environment
        int passFd = -1;         // a descriptor the child keeps open (others close on exec)
        bool quiet = true;       // standard output and error to /dev/null
    };

    // Starts `program` (looked up in PATH). False with `error` filled when it cannot start.
    bool start(const QString &program, const QStringList &arguments, const Options &options,
               QString *error);
    // Ends the child: SIGTERM, then SIGKILL after `graceMs`. Returns what the child used
    // (CPU time in ru_utime and ru_stime); zeroes when it was not running.
    rusage stop(int graceMs = 3000);
    // True while the child has not exited.
    bool running();

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    rusage m_usage = {};
};
