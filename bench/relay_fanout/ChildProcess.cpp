#include "ChildProcess.h"

#include "MonotonicClock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &stderrPath)
    : m_name(argv.at(0))
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    const int errorFile = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        // Dies with the driver, even when the driver itself crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        if (errorFile >= 0)
            dup2(errorFile, STDERR_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (errorFile >= 0)
        close(errorFile);
    m_input = toChild[1];
    m_output = fromChild[0];
    if (m_pid < 0)
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    closeInput();
    if (m_output >= 0)
        close(m_output);
}

std::string ChildProcess::readLine(int timeoutMs)
{
    const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1000000;
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        const int left = static_cast<int>((deadline - monotonicNs()) / 1000000);
        pollfd readable{m_output, POLLIN, 0};
        if (left <= 0 || poll(&readable, 1, left) == 0)
            throw std::runtime_error(m_name + " gave no answer in time");
        char buffer[4096];
        const ssize_t got = read(m_output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::runtime_error(m_name + " ended its output early");
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
}

void ChildProcess::writeLine(const std::string &line)
{
    const std::string text = line + "\n";
    if (write(m_input, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write to " + m_name);
}

void ChildProcess::closeInput()
{
    if (m_input >= 0)
        close(m_input);
    m_input = -1;
}

int ChildProcess::wait(int timeoutMs)
{
    const std::int64_t deadline = monotonicNs() + std::int64_t{timeoutMs} * 1000000;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (monotonicNs() > deadline)
            throw std::runtime_error(m_name + " did not exit in time");
        usleep(20000);
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
