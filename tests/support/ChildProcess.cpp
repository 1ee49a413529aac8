#include "support/ChildProcess.h"

#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The child's whole environment, built before fork: afterwards only async-signal-safe calls.
std::vector<QByteArray> mergedEnvironment(const QStringList &added)
{
    QStringList merged;
    for (char **entry = environ; *entry; ++entry) {
        const QString text = QString::fromLocal8Bit(*entry);
        const QString name = text.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        bool replaced = false;
        for (const QString &item : added)
            replaced = replaced || item.startsWith(name);
        if (!replaced)
            merged.append(text);
    }
    merged += added;
    std::vector<QByteArray> environment;
    for (const QString &entry : merged)
        environment.push_back(entry.toLocal8Bit());
    return environment;
}

std::vector<char *> pointers(std::vector<QByteArray> &items)
{
    std::vector<char *> result;
    for (QByteArray &item : items)
        result.push_back(item.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

ChildProcess::~ChildProcess()
{
    stop(0);
    closePipes();
}

bool ChildProcess::start(const QString &program, const QStringList &arguments,
                         const Options &options, QString *error)
{
    stop();
    closePipes();
    m_name = program;
    std::vector<QByteArray> args{program.toLocal8Bit()};
    for (const QString &argument : arguments)
        args.push_back(argument.toLocal8Bit());
    std::vector<char *> argv = pointers(args);
    std::vector<QByteArray> environment = mergedEnvironment(options.environment);
    std::vector<char *> envp = pointers(environment);

    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (options.pipes && (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)) {
        *error = QStringLiteral("pipe failed");
        return false;
    }
    const int errorFile = options.stderrPath.isEmpty()
                              ? -1
                              : open(options.stderrPath.toLocal8Bit().constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

    const pid_t parent = getpid();
    const pid_t pid = fork();
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
        if (options.pipes) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
        }
        if (errorFile >= 0)
            dup2(errorFile, STDERR_FILENO);
        if (options.passFd >= 0)
            fcntl(options.passFd, F_SETFD, 0);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (errorFile >= 0)
        close(errorFile);
    if (options.pipes) {
        close(toChild[0]);
        close(fromChild[1]);
        m_input = toChild[1];
        m_output = fromChild[0];
    }
    if (pid < 0) {
        closePipes();
        *error = QStringLiteral("fork failed");
        return false;
    }
    m_pid = pid;
    m_usage = {};
    m_status = 0;
    QThread::msleep(1);
    // 127: the program could not be executed.
    if (!running() && m_status == 127) {
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
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

std::string ChildProcess::readLine(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        const int left = timeoutMs - int(clock.elapsed());
        pollfd readable{m_output, POLLIN, 0};
        if (left <= 0 || poll(&readable, 1, left) == 0)
            throw std::runtime_error(m_name.toStdString() + " gave no answer in time");
        char buffer[4096];
        const ssize_t got = read(m_output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::runtime_error(m_name.toStdString() + " ended its output early");
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
}

void ChildProcess::writeLine(const std::string &line)
{
    const std::string text = line + "\n";
    if (write(m_input, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write to " + m_name.toStdString());
}

void ChildProcess::closeInput()
{
    if (m_input >= 0)
        close(m_input);
    m_input = -1;
}

int ChildProcess::wait(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (running()) {
        if (clock.elapsed() > timeoutMs) {
            stop(0);
            throw std::runtime_error(m_name.toStdString() + " did not exit in time");
        }
        QThread::msleep(20);
    }
    return m_status;
}

void ChildProcess::closePipes()
{
    closeInput();
    if (m_output >= 0)
        close(m_output);
    m_output = -1;
    m_pending.clear();
}
