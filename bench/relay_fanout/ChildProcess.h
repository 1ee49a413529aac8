#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A program the driver starts, with pipes to its stdin and stdout and its
// stderr in a file. Only this process, by its pid, is ever signalled: if it is
// still running when the object goes away, it is killed and reaped; it is also
// killed when the driver dies.
class ChildProcess
{
public:
    ChildProcess(const std::vector<std::string> &argv, const std::string &stderrPath);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }

    // Throws when no whole line arrives within the time or the output ends.
    std::string readLine(int timeoutMs);
    void writeLine(const std::string &line);
    void closeInput();
    // The exit status; throws (after killing the process) when it does not end in time.
    int wait(int timeoutMs);

private:
    std::string m_name;
    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::string m_pending;
};
