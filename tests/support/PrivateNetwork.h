#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <limits.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Runs a test program inside a network namespace of its own, so a test can listen on a local
// interface address (which the studio uses, never 127.0.0.1) without touching the machine's
// network: lo up and one veth pair, both ends inside, carrying kAddress. The program re-executes
// itself there and the namespace is deleted when it ends. Needs root.
namespace PrivateNetwork {

constexpr const char *kAddress = "10.213.7.1";
constexpr const char *kEnvironment = "LUMACAST_TEST_NETNS";

inline bool inside()
{
    return std::getenv(kEnvironment) != nullptr;
}

inline int run(const std::vector<std::string> &args)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        std::vector<char *> argv;
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In the original process: creates the namespace, runs this program in it with the same
// arguments, deletes the namespace and returns the program's exit status. Returns -1 where no
// namespace can be made (not root) or when already inside: the caller then runs its tests here.
inline int runSelfInside(int argc, char **argv)
{
    if (inside() || geteuid() != 0)
        return -1;
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return -1;
    const std::string ns = "lumacast-test-" + std::to_string(getpid());
    const std::vector<std::vector<std::string>> setup{
        {"ip", "netns", "add", ns},
        {"ip", "-n", ns, "link", "set", "lo", "up"},
        {"ip", "-n", ns, "link", "add", "studio0", "type", "veth", "peer", "name", "studio1"},
        {"ip", "-n", ns, "addr", "add", std::string(kAddress) + "/24", "dev", "studio0"},
        {"ip", "-n", ns, "link", "set", "studio0", "up"},
        {"ip", "-n", ns, "link", "set", "studio1", "up"},
    };
    int status = 0;
    for (const auto &command : setup) {
        if (run(command) != 0) {
            std::fprintf(stderr, "cannot set up the network namespace %s\n", ns.c_str());
            status = 1;
            break;
        }
    }
    if (status == 0) {
        setenv(kEnvironment, ns.c_str(), 1);
        std::vector<std::string> command{"ip", "netns", "exec", ns, self};
        for (int i = 1; i < argc; ++i)
            command.emplace_back(argv[i]);
        status = run(command);
    }
    run({"ip", "netns", "delete", ns});
    return status;
}

} // namespace PrivateNetwork
