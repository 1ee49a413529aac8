// A crowd of viewers on the relay's video path, all in one epoll loop so that
// the crowd costs little next to the relay it measures. Prints "CONNECTED ok
// failed" once every viewer has been answered, keeps reading until its stdin
// closes, then writes what every viewer received to the result file.

#include "FileLimit.h"
#include "LoopbackAddress.h"
#include "MonotonicClock.h"
#include "RecordFile.h"
#include "ViewerConnection.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace StreamLayout;

namespace {

// The relay's listen backlog is small; more handshakes in flight than it can
// queue would cost a one-second SYN retry each.
constexpr int kMaxPendingUpgrades = 16;
constexpr std::uint64_t kStdinTag = ~std::uint64_t{0};

class ViewerCrowd
{
public:
    ViewerCrowd(int port, int count, std::string path)
        : m_port(port), m_count(count), m_path(std::move(path)), m_epoll(epoll_create1(0))
    {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kStdinTag;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, STDIN_FILENO, &event);
    }

    void run()
    {
        startUpgrades();
        std::vector<std::uint8_t> buffer(1 << 16);
        epoll_event events[256];
        for (;;) {
            const int ready = epoll_wait(m_epoll, events, 256, -1);
            for (int i = 0; i < ready; ++i) {
                if (events[i].data.u64 == kStdinTag) {
                    if (read(STDIN_FILENO, buffer.data(), buffer.size()) <= 0)
                        return;
                    continue;
                }
                handle(events[i].data.u64, events[i].events, buffer);
            }
        }
    }

    void save(const char *path) const
    {
        RecordFile out(path, "wb");
        out.write(static_cast<std::uint32_t>(m_viewers.size()));
        for (const auto &viewer : m_viewers) {
            out.write(viewer->summary());
            out.writeArray(viewer->arrivals().data(), viewer->arrivals().size());
        }
    }

private:
    void startUpgrades()
    {
        while (m_pending < kMaxPendingUpgrades && static_cast<int>(m_viewers.size()) < m_count) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            // Each viewer from a loopback address of its own, as from a machine of its own:
            // relays cap the connections of one address.
            const int index = static_cast<int>(m_viewers.size());
            LoopbackAddress source(0);
            source.address.sin_addr.s_addr =
                htonl((127u << 24) | ((1u + index / 250) << 8) | (1u + index % 250));
            bind(fd, source.get(), source.size);
            LoopbackAddress address(m_port);
            connect(fd, address.get(), address.size);
            m_viewers.push_back(std::make_unique<ViewerConnection>(fd, m_port, m_path));
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.u64 = m_viewers.size() - 1;
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
            ++m_pending;
        }
    }

    void handle(std::uint64_t index, std::uint32_t events, std::vector<std::uint8_t> &buffer)
    {
        ViewerConnection &viewer = *m_viewers[index];
        if (events & EPOLLOUT) {
            sendUpgrade(viewer, index);
            return;
        }
        const ViewerConnection::State before = viewer.state();
        const ssize_t got = recv(viewer.fd(), buffer.data(), buffer.size(), 0);
        if (got > 0)
            viewer.consume(buffer.data(), static_cast<std::size_t>(got), monotonicNs());
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            viewer.markClosed();
        if (viewer.state() == ViewerConnection::State::Closed)
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, viewer.fd(), nullptr);
        if (before == ViewerConnection::State::Upgrading && viewer.state() != before)
            upgradeAnswered(viewer.state() == ViewerConnection::State::Open);
    }

    void sendUpgrade(ViewerConnection &viewer, std::uint64_t index)
    {
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(viewer.fd(), SOL_SOCKET, SO_ERROR, &error, &size);
        const std::string &request = viewer.upgradeRequest();
        if (error != 0 || send(viewer.fd(), request.data(), request.size(), MSG_NOSIGNAL) !=
                              static_cast<ssize_t>(request.size())) {
            viewer.markClosed();
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, viewer.fd(), nullptr);
            upgradeAnswered(false);
            return;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = index;
        epoll_ctl(m_epoll, EPOLL_CTL_MOD, viewer.fd(), &event);
    }

    void upgradeAnswered(bool upgraded)
    {
        --m_pending;
        ++(upgraded ? m_upgraded : m_failed);
        startUpgrades();
        if (m_upgraded + m_failed == m_count) {
            std::printf("CONNECTED %d %d\n", m_upgraded, m_failed);
            std::fflush(stdout);
        }
    }

    int m_port;
    int m_count;
    std::string m_path;
    int m_epoll;
    int m_pending = 0;
    int m_upgraded = 0;
    int m_failed = 0;
    std::vector<std::unique_ptr<ViewerConnection>> m_viewers;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s PORT COUNT RESULT_FILE [PATH]\n", argv[0]);
        return 2;
    }
    raiseFileLimit();
    ViewerCrowd crowd(std::atoi(argv[1]), std::atoi(argv[2]), argc == 5 ? argv[4] : "/readvideo");
    crowd.run();
    crowd.save(argv[3]);
    return 0;
}
