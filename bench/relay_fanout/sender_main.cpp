// Plays two transport-stream files into the relay's ingest port the way the
// studio's two encoder writers do: one TCP connection per stream, each access
// unit written at its own time, and the send time of every write recorded.

#include "LoopbackAddress.h"
#include "MonotonicClock.h"
#include "RecordFile.h"
#include "StreamLayout.h"
#include "WriteSchedule.h"

#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

using namespace StreamLayout;

namespace {

int connectToIngest()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    LoopbackAddress address(kIngestPort);
    if (fd < 0 || connect(fd, address.get(), address.size) != 0)
        throw std::runtime_error(std::string("connect to ingest: ") + std::strerror(errno));
    // Measure the relay, not Nagle's wait for the relay's delayed ACKs.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void writeAll(int fd, const std::uint8_t *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw std::runtime_error(std::string("write to ingest: ") + std::strerror(errno));
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

struct Step
{
    const WriteSchedule *schedule;
    const WriteSchedule::Write *write;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s VIDEO.ts AUDIO.ts SEND_LOG\n", argv[0]);
        return 2;
    }
    try {
        const WriteSchedule schedules[] = {WriteSchedule(argv[1], Video),
                                           WriteSchedule(argv[2], Audio)};
        std::vector<Step> steps;
        for (const WriteSchedule &schedule : schedules)
            for (const WriteSchedule::Write &write : schedule.writes())
                steps.push_back({&schedule, &write});
        std::stable_sort(steps.begin(), steps.end(), [](const Step &a, const Step &b) {
            return a.write->atNs < b.write->atNs;
        });

        const int sockets[] = {connectToIngest(), connectToIngest()};
        std::vector<SendRecord> records;
        records.reserve(steps.size());
        std::uint64_t sentBytes = 0;
        // A short pause lets the relay accept both connections before the first unit.
        const std::int64_t startNs = monotonicNs() + 50000000;
        for (const Step &step : steps) {
            const std::int64_t dueNs = startNs + step.write->atNs;
            const timespec due{static_cast<time_t>(dueNs / 1000000000), dueNs % 1000000000};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
            }
            const std::uint32_t stream = step.schedule->stream();
            records.push_back({monotonicNs(), stream, step.write->esPacketsAfter});
            writeAll(sockets[stream], step.schedule->bytes().data() + step.write->offset,
                     step.write->length);
            sentBytes += step.write->length;
        }
        const double seconds = (monotonicNs() - startNs) / 1e9;
        for (const int fd : sockets)
            close(fd);

        RecordFile log(argv[3], "wb");
        log.write(static_cast<std::uint64_t>(records.size()));
        log.writeArray(records.data(), records.size());
        std::printf("SENT %llu %.3f %zu\n", static_cast<unsigned long long>(sentBytes), seconds,
                    records.size());
        return 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "sender: %s\n", error.what());
        return 1;
    }
}
