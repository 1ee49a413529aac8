// The studio's relay alone in a process, so that its CPU time and memory can be
// read from /proc without the sender or the viewers mixed in. Prints "READY"
// once both listeners are up; answers "report" on stdin with its counters and
// quits when stdin closes.

#include "FileLimit.h"
#include "relay/WSServer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWebSocket>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv)
{
    raiseFileLimit();
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WEBSOCKET_PORT\n", argv[0]);
        return 2;
    }
    WSServer server;
    server.start("127.0.0.1", std::atoi(argv[1]));
    if (!server.isListening() || !server.ingestServer.isListening()) {
        std::printf("FAILED\n");
        return 1;
    }

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char line[256];
        if (read(STDIN_FILENO, line, sizeof line) <= 0) {
            commands.setEnabled(false);
            app.quit();
            return;
        }
        const WSServer::Statistics figures = server.statistics();
        std::printf("COUNTERS %lld %lld %d\n", static_cast<long long>(figures.receivedBytes),
                    static_cast<long long>(figures.sentBytes), figures.viewers);
        std::fflush(stdout);
    });
    std::printf("READY\n");
    std::fflush(stdout);
    const int status = app.exec();
    server.stop();
    return status;
}
