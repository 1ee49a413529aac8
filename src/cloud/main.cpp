// lumacast-cloud: the cloud relay service that studios in cloud mode stream to and their viewers
// watch through. Headless; runs anywhere the core library builds.
#include "cloud/CloudRelay.h"
#include "net/DescriptorLimit.h"
#include "web/WebDirectory.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int g_quitPipe[2] = {-1, -1};

bool positiveInt(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value > 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher instead of GLib's: GLib's finds a socket notifier by walking
    // all of them, and every write to a viewer turns one on and off, so with a thousand viewers
    // that walk was a good part of the service's CPU. Nothing here needs a GLib main loop.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("lumacast-cloud");
    QCoreApplication::setApplicationVersion(LUMACAST_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Cloud relay for Lumacast PRO: studios in cloud mode stream to ws://<host>:<port>/"
        "websocket/left/<room>, viewers watch at http://<host>:<port>/?room=<room> (https and "
        "wss with --tls-cert and --tls-key).");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen("listen", "Address to listen on (default: every interface).",
                                    "address", "0.0.0.0");
    const QCommandLineOption port(
        "port", "Port for the pages and WebSockets (default: 8089; 0: any free port).", "port",
        "8089");
    // No default value: the help text, and the man page made from it, must not name the folder
    // the program happens to run from.
    const QCommandLineOption webDir("web-dir",
                                    "Folder of the viewer pages (default: WEB beside the "
                                    "executable, else ../share/lumacast-cloud/WEB from it).",
                                    "dir");
    const QCommandLineOption maxRooms(
        "max-rooms", "Most rooms (presenters) at once (default: 100).", "count", "100");
    const QCommandLineOption maxViewers("max-viewers", "Most viewers in one room (default: 1000).",
                                        "count", "1000");
    const QCommandLineOption nats(
        "nats",
        "Share rooms with other nodes over the NATS cluster at these comma-separated addresses "
        "(nats://host:port,...), tried in this order (default: none, this relay runs alone).",
        "servers");
    const QCommandLineOption presenters(
        "presenters",
        "Let only the studios whose keys this file lists open rooms: one base64 key per line, as "
        "the studio logs it (\"presenter key\"); '#' starts a comment (default: none, any studio "
        "may open rooms with a key of its own).",
        "file");
    const QCommandLineOption allowOrigin(
        "allow-origin",
        "Let pages of this origin (for example https://talks.example.org) open WebSockets to the "
        "relay besides its own pages; may be given more than once (default: only the relay's "
        "own origin, and clients that name none, such as the studio).",
        "origin");
    const QCommandLineOption tlsCert(
        "tls-cert",
        "Serve https and wss with the certificate chain in this PEM file (the server's "
        "certificate first, as certbot's fullchain.pem); needs --tls-key. A renewed file is used "
        "for new connections without restarting; connected viewers stay (default: none, plain "
        "http and ws, for a TLS-terminating proxy in front).",
        "file");
    const QCommandLineOption tlsKey(
        "tls-key", "The unencrypted PEM private key of --tls-cert (RSA or EC).", "file");
    const QCommandLineOption balancer(
        "balancer",
        "Connections from this address or network (ADDRESS or ADDRESS/PREFIX, for example "
        "10.0.0.5 or 10.0.0.0/24) come from a TCP balancer that sends the PROXY protocol v2 "
        "header (haproxy's send-proxy-v2): each must start with one, and the client it names is "
        "the one every per-address limit and log line counts. Connections from any other address "
        "are taken as they are. May be given more than once, or as a comma-separated list "
        "(default: none, every connection is its own client).",
        "address");
    parser.addOptions({listen, port, webDir, maxRooms, maxViewers, nats, presenters, allowOrigin,
                       tlsCert, tlsKey, balancer});
    parser.process(app);
    const QString pages = parser.isSet(webDir) ? parser.value(webDir) : WebDirectory::locate();

    CloudRelay::Limits limits;
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    const QHostAddress address(parser.value(listen));
    if (!portOk || portNumber > 65535 || address.isNull() ||
        !positiveInt(parser.value(maxRooms), &limits.maxRooms) ||
        !positiveInt(parser.value(maxViewers), &limits.maxViewersPerRoom)) {
        std::fprintf(stderr, "lumacast-cloud: invalid option value; see --help\n");
        return 2;
    }
    if (!QDir(pages).exists("index.html"))
        std::fprintf(stderr, "lumacast-cloud: warning: no index.html in %s\n", qPrintable(pages));

    PresenterKeys allowed;
    QString keysError;
    if (parser.isSet(presenters) && !allowed.load(parser.value(presenters), &keysError)) {
        std::fprintf(stderr, "lumacast-cloud: %s\n", qPrintable(keysError));
        return 2;
    }

    TrustedBalancers balancers;
    for (const QString &value : parser.values(balancer)) {
        for (const QString &item : value.split(',', Qt::SkipEmptyParts)) {
            QString balancerError;
            if (!balancers.add(item, &balancerError)) {
                std::fprintf(stderr, "lumacast-cloud: --balancer: %s\n", qPrintable(balancerError));
                return 2;
            }
        }
    }

    DescriptorLimit::raiseToHardLimit();
    CloudRelay relay(limits, pages);
    relay.restrictPresenters(allowed);
    relay.setOriginPolicy(OriginPolicy(parser.values(allowOrigin)));
    relay.trustBalancers(balancers);
    if (parser.isSet(tlsCert) != parser.isSet(tlsKey)) {
        std::fprintf(stderr, "lumacast-cloud: --tls-cert and --tls-key go together\n");
        return 2;
    }
    QString tlsError;
    if (parser.isSet(tlsCert) &&
        !relay.serveTls(parser.value(tlsCert), parser.value(tlsKey), &tlsError)) {
        std::fprintf(stderr, "lumacast-cloud: cannot serve TLS: %s\n", qPrintable(tlsError));
        return 2;
    }
    QString natsError;
    if (parser.isSet(nats) && !relay.joinCluster(parser.value(nats), &natsError)) {
        std::fprintf(stderr, "lumacast-cloud: cannot use NATS at %s: %s\n",
                     qPrintable(parser.value(nats)), qPrintable(natsError));
        return 2;
    }
    if (!relay.listen(address, quint16(portNumber))) {
        std::fprintf(stderr, "lumacast-cloud: cannot listen on %s:%u: %s\n",
                     qPrintable(address.toString()), portNumber, qPrintable(relay.errorString()));
        return 1;
    }
    // Scripts and tests that ask for port 0 read the port from this line.
    std::printf("lumacast-cloud listening on %s:%u\n", qPrintable(address.toString()),
                unsigned(relay.serverPort()));
    std::fflush(stdout);

    // SIGTERM and SIGINT end the event loop, so sockets close properly.
    if (pipe(g_quitPipe) == 0) {
        const auto onSignal = [](int) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = write(g_quitPipe[1], &byte, 1);
        };
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }
    auto *quitNotifier = new QSocketNotifier(g_quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(quitNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    return app.exec();
}
