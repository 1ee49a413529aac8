#include "support/LogCapture.h"
#include "support/RawHttpClient.h"
#include "web/HttpRequestHandler.h"
#include "web/HttpResponse.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <stdexcept>

using namespace RawHttpClient;

// Stands in for a server class: the handler connects accepted sockets to these slots by name.
class HandlerHost : public QObject
{
    Q_OBJECT
public:
    explicit HandlerHost(int idleTimeoutMs)
        : m_requests({{"/ok", "okHandler",
                       [](QTcpSocket *socket, const QString &path) {
                           HttpResponse::sendResponse(socket, "200", path);
                       }},
                      {"/throw", "throwHandler",
                       [](QTcpSocket *, const QString &) {
                           throw std::runtime_error("boom");
                       }},
                      {"/halfway", "halfwayHandler",
                       [](QTcpSocket *socket, const QString &) {
                           socket->write("partial");
                           throw 42;
                       }}},
                     idleTimeoutMs)
    {
        connect(&listener, &QTcpServer::newConnection, this,
                [this] { m_requests.accept(listener.nextPendingConnection(), this); });
        listener.listen(QHostAddress::LocalHost, 0);
    }

    QTcpServer listener;
    int discarded = 0;

public slots:
    void readClient() { m_requests.readRequest(qobject_cast<QTcpSocket *>(sender()), "/none"); }
    void discardClient() { ++discarded; }

private:
    HttpRequestHandler m_requests;
};

class TestHttpRequestHandler : public QObject
{
    Q_OBJECT
private slots:
    void routedReplyCarriesPathAndQuery();
    void throwingHandlerIsLoggedAndClosed_data();
    void throwingHandlerIsLoggedAndClosed();
    void overlongRequestLineCloses_data();
    void overlongRequestLineCloses();
    void longestAcceptedLine();
    void idleConnectionIsClosed();
    void headerLinesDoNotPutTheDeadlineOff();
    void closedConnectionsAreReleased();
};

void TestHttpRequestHandler::routedReplyCarriesPathAndQuery()
{
    HandlerHost host(HttpRequestHandler::kIdleTimeoutMs);
    QCOMPARE(get(host.listener.serverPort(), "/okay?x=1"), textReply("200", "/okay?x=1"));
}

void TestHttpRequestHandler::throwingHandlerIsLoggedAndClosed_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("before writing")
        << QByteArray("/throw") << "throwHandler EXCEPTION" << QByteArray();
    QTest::newRow("after writing")
        << QByteArray("/halfway") << "halfwayHandler EXCEPTION" << QByteArray("partial");
}

void TestHttpRequestHandler::throwingHandlerIsLoggedAndClosed()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, logLine);
    QFETCH(QByteArray, reply);
    HandlerHost host(HttpRequestHandler::kIdleTimeoutMs);
    LogCapture log;
    QCOMPARE(get(host.listener.serverPort(), path), reply);
    QVERIFY(log.contains(logLine));
}

void TestHttpRequestHandler::overlongRequestLineCloses_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");
    const QByteArray longPath = "/ok" + QByteArray(HttpRequestHandler::kMaxRequestLineBytes, 'a');
    QTest::newRow("complete line") << QList<QByteArray>{"GET " + longPath + " HTTP/1.0\r\n"};
    QTest::newRow("no line end yet") << QList<QByteArray>{"GET " + longPath};
    QTest::newRow("growing in pieces")
        << QList<QByteArray>{"GET /ok", QByteArray(5000, 'a'), QByteArray(5000, 'a')};
}

void TestHttpRequestHandler::overlongRequestLineCloses()
{
    QFETCH(QList<QByteArray>, segments);
    HandlerHost host(HttpRequestHandler::kIdleTimeoutMs);
    QCOMPARE(exchange(host.listener.serverPort(), segments), QByteArray());
}

void TestHttpRequestHandler::longestAcceptedLine()
{
    HandlerHost host(HttpRequestHandler::kIdleTimeoutMs);
    const QByteArray head = "GET /ok";
    const QByteArray tail = " HTTP/1.0\r\n";
    const QByteArray path =
        "/ok" +
        QByteArray(HttpRequestHandler::kMaxRequestLineBytes - head.size() - tail.size(), 'a');
    const QByteArray line = "GET " + path + tail;
    QCOMPARE(line.size(), HttpRequestHandler::kMaxRequestLineBytes);
    QCOMPARE(exchange(host.listener.serverPort(), {line}), textReply("200", path));
}

void TestHttpRequestHandler::idleConnectionIsClosed()
{
    HandlerHost host(200);
    // A client that never completes its line, and one that only sends lines never answered.
    QCOMPARE(exchange(host.listener.serverPort(), {"GET /ok"}), QByteArray());
    QCOMPARE(exchange(host.listener.serverPort(), {"POST /ok HTTP/1.0\r\n"}), QByteArray());
}

void TestHttpRequestHandler::headerLinesDoNotPutTheDeadlineOff()
{
    HandlerHost host(600);
    QTcpSocket slowloris;
    slowloris.connectToHost(QHostAddress::LocalHost, host.listener.serverPort());
    QVERIFY(slowloris.waitForConnected());
    QElapsedTimer open;
    open.start();
    // A header line well within every idle interval, but never a request.
    while (slowloris.state() == QAbstractSocket::ConnectedState && open.elapsed() < 5000) {
        slowloris.write("X-Padding: 1\r\n");
        QTest::qWait(150);
    }
    QVERIFY(open.elapsed() < 1500);
}

void TestHttpRequestHandler::closedConnectionsAreReleased()
{
    HandlerHost host(HttpRequestHandler::kIdleTimeoutMs);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(get(host.listener.serverPort(), "/ok"), textReply("200", "/ok"));
    {
        QTcpSocket leaving;
        leaving.connectToHost(QHostAddress::LocalHost, host.listener.serverPort());
        QVERIFY(leaving.waitForConnected());
        leaving.write("POST / HTTP/1.0\r\n");
        QTRY_COMPARE(host.listener.findChildren<QTcpSocket *>().size(), 1);
    }
    QTRY_COMPARE(host.discarded, 6);
    QTRY_COMPARE(host.listener.findChildren<QTcpSocket *>().size(), 0);
}

QTEST_GUILESS_MAIN(TestHttpRequestHandler)
#include "tst_httprequesthandler.moc"
