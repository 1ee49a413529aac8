#include "support/ChildProcess.h"

#include <QThread>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

bool ChildProcess::start(const QString &program, const QStringList &arguments,
                         const Options &options, QString *error)
{
    stop();
    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    // The child's whole environment is built here: after fork only async-signal-safe calls.
    QStringList merged;
    for (char **entry = environ; *entry; ++entry) {
        const QString text = QString::fromLocal8Bit(*entry);
        const QString name = text.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        bool replaced = false;
        for (const QString &added : options.environment)
            replaced = replaced || added.startsWith(name);
        if (!replaced)
            merged.append(text);
    }
    merged += options.environment;
    std::vector<QByteArray> environment;
    for (const QString &entry : merged)
        environment.push_back(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *error = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls and exec from here on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        setpgid(0, 0);
        if (options.quiet) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        if (options.passFd >= 0)
            fcntl(options.passFd, F_SETFD, 0);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    m_pid = pid;
    m_usage = {};
    QThread::msleep(1);
    if (!running()) {
        *error = QStringLiteral("%1 did not start").arg(program);
        return false;
    }
    return true;
}

bool ChildProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    rusage usage = {};
    const pid_t done = wait4(m_pid, &status, WNOHANG, &usage);
    if (done == m_pid) {
        m_usage = usage;
        m_pid = -1;
        return false;
    }
    return done == 0;
}

rusage ChildProcess::stop(int graceMs)
{
    if (m_pid <= 0)
        return m_usage;
    kill(m_pid, SIGTERM);
    for (int waited = 0; waited < graceMs && running(); waited += 20)
        QThread::msleep(20);
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int status = 0;
        wait4(m_pid, &status, 0, &m_usage);
        m_pid = -1;
    }
    return m_usage;
}
