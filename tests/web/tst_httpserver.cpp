#include "support/LogCapture.h"
#include "support/RawHttpClient.h"
#include "web/HttpRequest.h"
#include "web/HttpResponse.h"
#include "web/HttpRoutes.h"
#include "web/HttpServer.h"

#include <QTcpSocket>
#include <QtTest>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace RawHttpClient;

// A server on routes that answer with what they were given.
class RoutedServer
{
public:
    explicit RoutedServer(int idleTimeoutMs)
        : m_routes({{"/ok", "okHandler",
                     [](QTcpSocket *socket, const HttpRequest &request) {
                         HttpResponse::sendResponse(socket, "200", request.target);
                     }},
                    {"/status", "statusHandler",
                     [](QTcpSocket *socket, const HttpRequest &request) {
                         HttpResponse::sendResponse(socket, request.queryItem("code"), "x");
                     }},
                    {"/throw", "throwHandler",
                     [](QTcpSocket *, const HttpRequest &) {
                         throw std::runtime_error("boom");
                     }},
                    {"/halfway", "halfwayHandler",
                     [](QTcpSocket *socket, const HttpRequest &) {
                         socket->write("partial");
                         throw 42;
                     }}},
                   "/none"),
          http(&m_routes, "test HTTP", idleTimeoutMs)
    {
        http.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return http.serverPort(); }
    int openConnections() const { return http.findChildren<QTcpSocket *>().size(); }

private:
    HttpRoutes m_routes;

public:
    HttpServer http;
};

class TestHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void routedReplyCarriesPathAndQuery();
    void queryIsTakenApartOnce_data();
    void queryIsTakenApartOnce();
    void statusLinesCarryTheirReasonPhrase_data();
    void statusLinesCarryTheirReasonPhrase();
    void burstBeyondQtsQueueIsAnswered();
    void throwingHandlerIsLoggedAndClosed_data();
    void throwingHandlerIsLoggedAndClosed();
    void overlongRequestLineCloses_data();
    void overlongRequestLineCloses();
    void longestAcceptedLine();
    void idleConnectionIsClosed();
    void headerLinesDoNotPutTheDeadlineOff();
    void closedConnectionsAreReleased();
};

void TestHttpServer::routedReplyCarriesPathAndQuery()
{
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    QCOMPARE(get(host.port(), "/okay?x=1"), textReply("200", "/okay?x=1"));
}

void TestHttpServer::queryIsTakenApartOnce_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("hasQuery");
    QTest::addColumn<QString>("room");
    QTest::addColumn<QString>("raw");
    QTest::newRow("no query") << "/feedback.php"
                              << "/feedback.php" << false << ""
                              << "";
    QTest::newRow("empty query") << "/feedback.php?"
                                 << "/feedback.php" << true << ""
                                 << "";
    QTest::newRow("both, encoded kept") << "/feedback.php?room=ab&raw=%7B%22a%22%3D1%7D"
                                        << "/feedback.php" << true << "ab"
                                        << "%7B%22a%22%3D1%7D";
    QTest::newRow("first of two, '=' in a value") << "/f?raw=a=b&raw=c&room"
                                                  << "/f" << true << ""
                                                  << "a=b";
    QTest::newRow("a name is not a prefix") << "/f?rawx=1&xroom=2"
                                            << "/f" << true << ""
                                            << "";
}

void TestHttpServer::queryIsTakenApartOnce()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFETCH(bool, hasQuery);
    QFETCH(QString, room);
    QFETCH(QString, raw);
    const HttpRequest request = HttpRequest::fromTarget(target);
    QCOMPARE(request.target, target);
    QCOMPARE(request.path, path);
    QCOMPARE(request.hasQuery, hasQuery);
    QCOMPARE(request.queryItem("room"), room);
    QCOMPARE(request.queryItem("raw"), raw);
}

void TestHttpServer::statusLinesCarryTheirReasonPhrase_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("200") << QByteArray("200") << QByteArray("HTTP/1.0 200 OK\r\n");
    QTest::newRow("400") << QByteArray("400") << QByteArray("HTTP/1.0 400 Bad Request\r\n");
    QTest::newRow("429") << QByteArray("429") << QByteArray("HTTP/1.0 429 Too Many Requests\r\n");
    QTest::newRow("500") << QByteArray("500")
                         << QByteArray("HTTP/1.0 500 Internal Server Error\r\n");
    QTest::newRow("503") << QByteArray("503") << QByteArray("HTTP/1.0 503 Service Unavailable\r\n");
}

void TestHttpServer::statusLinesCarryTheirReasonPhrase()
{
    QFETCH(QByteArray, code);
    QFETCH(QByteArray, line);
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    const QByteArray reply = get(host.port(), "/status?code=" + code);
    QVERIFY2(reply.startsWith(line), reply.constData());
    const QByteArray missing = get(host.port(), "/missing.html");
    QVERIFY2(missing.startsWith("HTTP/1.0 404 Not Found\r\n"), missing.constData());
}

void TestHttpServer::burstBeyondQtsQueueIsAnswered()
{
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    // Connects made while the server's loop is busy wait in the kernel's queue; Qt's own holds
    // 50, past which the kernel drops the SYNs and those clients connect only once the queue
    // drains. Four addresses stay under the cap per address.
    constexpr int kClients = 120;
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        fds.push_back(fd);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7f000002 + i % 4);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local), 0);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server.sin_port = htons(host.port());
        ::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server);
    }
    const auto closeAll = qScopeGuard([&fds] {
        for (const int fd : fds)
            ::close(fd);
    });
    // Without the event loop running nothing is accepted: every client the queue holds is
    // connected, the others wait for a SYN retry that cannot succeed before it drains.
    std::vector<pollfd> waiting;
    for (const int fd : fds)
        waiting.push_back({fd, POLLOUT, 0});
    int connected = 0;
    // Up to 5 s for the last of them; a client the queue dropped waits far longer.
    for (int round = 0; round < 50 && !waiting.empty(); ++round) {
        ::poll(waiting.data(), waiting.size(), 100);
        for (auto entry = waiting.begin(); entry != waiting.end();) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(entry->fd, SOL_SOCKET, SO_ERROR, &error, &length);
            const bool done = (entry->revents & POLLOUT) && error == 0;
            connected += done;
            entry = done ? waiting.erase(entry) : entry + 1;
        }
    }
    QCOMPARE(connected, kClients);
    for (const int fd : fds)
        QVERIFY(::write(fd, "GET /ok HTTP/1.0\r\n", 18) == 18);
    int answered = 0;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 for (int &fd : fds) {
                                     char buffer[64];
                                     if (fd >= 0 && ::read(fd, buffer, sizeof buffer) > 0) {
                                         ++answered;
                                         ::close(fd);
                                         fd = -1;
                                     }
                                 }
                                 return answered == kClients;
                             }()),
                             20000);
}

void TestHttpServer::throwingHandlerIsLoggedAndClosed_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("before writing")
        << QByteArray("/throw") << "throwHandler EXCEPTION" << QByteArray();
    QTest::newRow("after writing")
        << QByteArray("/halfway") << "halfwayHandler EXCEPTION" << QByteArray("partial");
}

void TestHttpServer::throwingHandlerIsLoggedAndClosed()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, logLine);
    QFETCH(QByteArray, reply);
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    LogCapture log;
    QCOMPARE(get(host.port(), path), reply);
    QVERIFY(log.contains(logLine));
}

void TestHttpServer::overlongRequestLineCloses_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");
    const QByteArray longPath = "/ok" + QByteArray(HttpServer::kMaxRequestLineBytes, 'a');
    QTest::newRow("complete line") << QList<QByteArray>{"GET " + longPath + " HTTP/1.0\r\n"};
    QTest::newRow("no line end yet") << QList<QByteArray>{"GET " + longPath};
    QTest::newRow("growing in pieces")
        << QList<QByteArray>{"GET /ok", QByteArray(5000, 'a'), QByteArray(5000, 'a')};
}

void TestHttpServer::overlongRequestLineCloses()
{
    QFETCH(QList<QByteArray>, segments);
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    QCOMPARE(exchange(host.port(), segments), QByteArray());
}

void TestHttpServer::longestAcceptedLine()
{
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    const QByteArray head = "GET /ok";
    const QByteArray tail = " HTTP/1.0\r\n";
    const QByteArray path =
        "/ok" + QByteArray(HttpServer::kMaxRequestLineBytes - head.size() - tail.size(), 'a');
    const QByteArray line = "GET " + path + tail;
    QCOMPARE(line.size(), HttpServer::kMaxRequestLineBytes);
    QCOMPARE(exchange(host.port(), {line}), textReply("200", path));
}

void TestHttpServer::idleConnectionIsClosed()
{
    RoutedServer host(200);
    // A client that never completes its line, and one that only sends lines never answered.
    QCOMPARE(exchange(host.port(), {"GET /ok"}), QByteArray());
    QCOMPARE(exchange(host.port(), {"POST /ok HTTP/1.0\r\n"}), QByteArray());
}

void TestHttpServer::headerLinesDoNotPutTheDeadlineOff()
{
    RoutedServer host(600);
    QTcpSocket slowloris;
    slowloris.connectToHost(QHostAddress::LocalHost, host.port());
    QVERIFY(slowloris.waitForConnected());
    QElapsedTimer open;
    open.start();
    // A header line well within every idle interval, but never a request.
    while (slowloris.state() == QAbstractSocket::ConnectedState && open.elapsed() < 5000) {
        slowloris.write("X-Padding: 1\r\n");
        QTest::qWait(150);
    }
    // Lines kept coming for eight times the deadline; the server closed all the same.
    QVERIFY(slowloris.state() != QAbstractSocket::ConnectedState);
}

void TestHttpServer::closedConnectionsAreReleased()
{
    RoutedServer host(HttpServer::kIdleTimeoutMs);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(get(host.port(), "/ok"), textReply("200", "/ok"));
    {
        QTcpSocket leaving;
        leaving.connectToHost(QHostAddress::LocalHost, host.port());
        QVERIFY(leaving.waitForConnected());
        leaving.write("POST / HTTP/1.0\r\n");
        QTRY_COMPARE(host.openConnections(), 1);
    }
    QTRY_COMPARE(host.openConnections(), 0);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
