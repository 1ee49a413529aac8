#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>

// A helper process that a test or benchmark starts and ends itself, by its process id. It dies
// with its starter even when that crashes (parent-death signal), so no helper outlives a run.
// Optionally its standard input and output are pipes, for programs that talk in lines.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    struct Options
    {
        QStringList environment; // "NAME=value" entries added to the inherited environment
        int passFd = -1;         // a descriptor the child keeps open (others close on exec)
        bool quiet = true;       // standard output and error to /dev/null
        QString stderrPath;      // if set, standard error to this file (truncated)
        bool pipes = false;      // standard input and output through readLine()/writeLine()
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

    // With pipes. Each throws std::runtime_error: no whole line in time or the output ended;
    // the input is closed.
    std::string readLine(int timeoutMs);
    void writeLine(const std::string &line);
    void closeInput();
    // Waits for the exit and returns its status (128 + signal when killed); throws, after
    // killing the child, when it does not end in time.
    int wait(int timeoutMs);

private:
    void closePipes();

    QString m_name;
    pid_t m_pid = -1;
    rusage m_usage = {};
    int m_status = 0;
    int m_input = -1;
    int m_output = -1;
    std::string m_pending;
};
