// The studio's side of a cloud session alone in a process: the cloud relay client takes the
// sender's stream on the ingest port and streams it to lumacast-cloud, so that the service's own
// CPU time and memory can be read without it. Presents with a key of its own in a room of that
// key, as a studio does. Takes the stream on the studio's ingest port, or on INGEST_PORT (0: one
// the system picks). Prints "READY <room> <ingest port>" once connected and listening;
// answers a line on stdin with the figures the service last reported, or "VOTE CHARS COUNT" with
// COUNT vote starts whose title is CHARS long (a presenter that floods its viewers), then "VOTED";
// quits when stdin closes. An https:// server is verified with the system's authorities and the
// PEM file named by LUMACAST_CLOUD_CA_FILE, as the studio's CLOUD_CA_FILE setting does.

#include "relay/CLOUDProxy.h"
#include "relay/PresenterClaim.h"
#include "relay/PresenterIdentity.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s HOST:PORT [INGEST_PORT]\n", argv[0]);
        return 2;
    }
    const quint16 ingestPort = argc == 3 ? quint16(std::atoi(argv[2])) : WSServer::kIngestPort;
    const PresenterIdentity identity = PresenterIdentity::generate();
    const QString room = PresenterClaim::roomFor(identity.publicKey(), PresenterClaim::newTag());
    CLOUDProxy proxy(nullptr, ingestPort);
    proxy.setIdentity(identity);
    proxy.setCaFile(qEnvironmentVariable("LUMACAST_CLOUD_CA_FILE"));
    if (!proxy.connectToCloud(argv[1], room) || !proxy.ingestServer.isListening()) {
        std::printf("FAILED\n");
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256] = {};
        if (read(STDIN_FILENO, line, sizeof line - 1) <= 0) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        long chars = 0;
        int count = 0;
        if (std::sscanf(line, "VOTE %ld %d", &chars, &count) == 2) {
            const QString title(int(chars), 'v');
            for (int i = 0; i < count; ++i)
                proxy.onVoteStart(title, {"A", "B"});
            std::printf("VOTED\n");
            std::fflush(stdout);
            return;
        }
        const WSServer::Statistics figures = proxy.statistics();
        std::printf("COUNTERS %lld %lld %d\n", static_cast<long long>(figures.receivedBytes),
                    static_cast<long long>(figures.sentBytes), figures.viewers);
        std::fflush(stdout);
    });
    std::printf("READY %s %u\n", qPrintable(room), unsigned(proxy.ingestPort()));
    std::fflush(stdout);
    const int status = app.exec();
    proxy.disconnectFromCloud();
    return status;
}
