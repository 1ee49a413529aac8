// The studio's network side alone in a process (viewer HTTP server, relay, questions store), so
// that the abuse driver can attack it, watch its CPU and memory in /proc, read its log and kill
// it. Listens on 127.0.0.1: HTTP on the given port, the relay on the next one, ingest on a port
// the system picks. Prints "READY <http> <ws> <ingest>"; on stdin, "vote" starts a vote and
// "tally" prints the relay's tally; quits when stdin closes. The log goes to stderr.

#include "../relay_fanout/FileLimit.h"
#include "audience/VoteState.h"
#include "relay/WSServer.h"
#include "web/DBStorage.h"
#include "web/WebServer.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv)
{
    raiseFileLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO");
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s HTTP_PORT WEB_DIR\n", argv[0]);
        return 2;
    }
    const int httpPort = std::atoi(argv[1]);
    DBStorage storage;
    VoteState vote;
    WebServer web(&vote, &storage);
    web.setQuestionsPerMinute(0); // the posters here all come from 127.0.0.1
    WSServer relay(0);
    web.listen("127.0.0.1", httpPort, argv[2], 0.5);
    relay.start("127.0.0.1", httpPort + 1);
    if (web.serverPort() == 0 || !relay.isListening() || !relay.ingestServer.isListening()) {
        std::printf("FAILED\n");
        return 1;
    }

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char line[256];
        const ssize_t size = read(STDIN_FILENO, line, sizeof line - 1);
        if (size <= 0) {
            commands.setEnabled(false);
            app.quit();
            return;
        }
        line[size] = 0;
        if (std::string(line).rfind("vote", 0) == 0) {
            relay.onVoteStart("Q", {"A", "B", "C", "D", "E"});
            std::printf("VOTING\n");
        } else {
            const QVector<qint32> tally = relay.voteResults();
            std::printf("TALLY %d %d %d\n", tally[0], tally[1], tally[2]);
        }
        std::fflush(stdout);
    });
    std::printf("READY %d %d %d\n", web.serverPort(), relay.serverPort(), relay.ingestPort());
    std::fflush(stdout);
    const int status = app.exec();
    relay.stop();
    web.stopListen();
    return status;
}
