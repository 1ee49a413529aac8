#include "relay/CLOUDProxy.h"
#include "relay/CommandMessages.h"
#include "support/CloudService.h"
#include "support/QuestionStoreDir.h"
#include "support/TcpForwarder.h"
#include "web/DBStorage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <memory>
#include <numeric>

namespace {

// The studio's room identifier: 32 characters for the machine, 36 for the room.
const QString kRoomA = QString(32, 'a') + "0f6b7c1e-2d3a-4b5c-8d9e-000000000001";
const QString kRoomB = QString(32, 'b') + "0f6b7c1e-2d3a-4b5c-8d9e-000000000002";

QByteArray packets(int count, int seed)
{
    QByteArray stream;
    for (int i = 0; i < count; ++i) {
        QByteArray packet(188, char((seed + i) & 0x7f));
        packet[0] = 0x47;
        stream += packet;
    }
    return stream;
}

// Writes `stream` to the proxy's ingest port as an encoder does: in pieces that cut the packet
// grid. False when the writer cannot connect.
bool writeOffGrid(QTcpSocket &writer, quint16 ingestPort, const QByteArray &stream, int piece)
{
    writer.connectToHost(QHostAddress::LocalHost, ingestPort);
    if (!writer.waitForConnected(5000))
        return false;
    for (int offset = 0; offset < stream.size(); offset += piece) {
        writer.write(stream.mid(offset, piece));
        writer.waitForBytesWritten(1000);
        QTest::qWait(5);
    }
    return true;
}

struct Viewer
{
    QWebSocket socket;
    QByteArray bytes;
    QList<int> sizes;
    QStringList texts;
};

std::unique_ptr<Viewer> openViewer(quint16 port, const QString &room, const QString &channel)
{
    auto viewer = std::make_unique<Viewer>();
    Viewer *v = viewer.get();
    QObject::connect(&v->socket, &QWebSocket::binaryMessageReceived, [v](const QByteArray &m) {
        v->bytes += m;
        v->sizes.append(m.size());
    });
    QObject::connect(&v->socket, &QWebSocket::textMessageReceived,
                     [v](const QString &m) { v->texts.append(m); });
    QSignalSpy connected(&v->socket, &QWebSocket::connected);
    v->socket.open(
        QUrl(QString("ws://127.0.0.1:%1/websocket/right/%2/%3").arg(port).arg(room, channel)));
    if (!connected.wait(5000))
        return nullptr;
    return viewer;
}

QString commandOf(const QString &text)
{
    return CommandMessages::commandOf(CommandMessages::parse(text));
}

// The studio connected to the real service through a forwarder the test controls.
struct ForwardedCloud
{
    CloudService service;
    TcpForwarder link{service.port()};
    CLOUDProxy proxy{nullptr, 0};
    QSignalSpy failed{&proxy, &CLOUDProxy::reconnectFailed};

    bool connect()
    {
        return link.open() &&
               proxy.connectToCloud(QString("127.0.0.1:%1").arg(link.port()), kRoomA);
    }
};

} // namespace

class TestCloudProxy : public QObject
{
    Q_OBJECT
private slots:
    void address_data();
    void address();
    void refusedConnectionOpensNoIngest();
    void streamArrivesAsWholePacketsInItsRoomOnly();
    void sendsWholePacketsToAnyServer();
    void statisticsAndTally();
    void serverMessagesFillTheTally();
    void questionFromViewerIsStoredDecoded();
    void commandsReachTheirRoomOnly();
    void secondPresenterAndLimitsRefused();
    void reconnectsAfterServiceRestart();
    void reconnectFailedOnceAfterTenAttempts();
    void successfulReconnectResetsTheCount();
    void silentConnectionIsReplaced();
};

void TestCloudProxy::address_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("address");
    const QString tail = "/websocket/left/" + kRoomA;
    QTest::newRow("http") << "http://relay.example:8089"
                          << "ws://relay.example:8089" + tail;
    QTest::newRow("https") << "https://relay.example"
                           << "ws://relay.example" + tail;
    QTest::newRow("no scheme") << "relay.example:8089"
                               << "ws://relay.example:8089" + tail;
}

void TestCloudProxy::address()
{
    QFETCH(QString, server);
    QFETCH(QString, address);
    QCOMPARE(kRoomA.size(), 68);
    QCOMPARE(CLOUDProxy::cloudAddress(server, kRoomA), address);
}

void TestCloudProxy::refusedConnectionOpensNoIngest()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    CLOUDProxy proxy(nullptr, 0);
    QVERIFY(!proxy.connectToCloud(QString("http://127.0.0.1:%1").arg(port), kRoomA));
    QVERIFY(!proxy.ingestServer.isListening());
    QVERIFY(!proxy.connected);
}

void TestCloudProxy::streamArrivesAsWholePacketsInItsRoomOnly()
{
    CloudService service;
    CLOUDProxy proxyA(nullptr, 0);
    CLOUDProxy proxyB(nullptr, 0);
    QVERIFY(proxyA.connectToCloud("https://" + service.server(), kRoomA));
    QVERIFY(proxyB.connectToCloud(service.server(), kRoomB));
    QVERIFY(proxyA.ingestServer.isListening());
    const auto viewerA = openViewer(service.port(), kRoomA, "readvideo");
    const auto viewerB = openViewer(service.port(), kRoomB, "readvideo");
    QVERIFY(viewerA && viewerB);

    QTcpSocket writer;
    const QByteArray stream = packets(40, 1);
    QVERIFY(writeOffGrid(writer, proxyA.ingestPort(), stream, 1000));
    QTRY_COMPARE(viewerA->bytes.size(), stream.size());
    QCOMPARE(viewerA->bytes, stream);
    for (const int size : qAsConst(viewerA->sizes))
        QCOMPARE(size % 188, 0);
    QCOMPARE(proxyA.receivedBytes, qint64(stream.size()));
    QTest::qWait(200);
    QVERIFY(viewerB->bytes.isEmpty());
}

void TestCloudProxy::sendsWholePacketsToAnyServer()
{
    // A server of someone else's, which takes the messages as they come.
    QWebSocketServer server("other relay", QWebSocketServer::NonSecureMode);
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QList<int> sizes;
    connect(&server, &QWebSocketServer::newConnection, [&] {
        QWebSocket *presenter = server.nextPendingConnection();
        presenter->setParent(&server); // the caller owns a socket the server hands out
        connect(presenter, &QWebSocket::binaryMessageReceived,
                [&](const QByteArray &message) { sizes.append(message.size()); });
    });
    CLOUDProxy proxy(nullptr, 0);
    QVERIFY(proxy.connectToCloud(QString("127.0.0.1:%1").arg(server.serverPort()), kRoomA));
    QTcpSocket writer;
    const QByteArray stream = packets(20, 2);
    QVERIFY(writeOffGrid(writer, proxy.ingestPort(), stream, 500));
    QTRY_COMPARE(std::accumulate(sizes.begin(), sizes.end(), 0), stream.size());
    for (const int size : qAsConst(sizes))
        QCOMPARE(size % 188, 0);
}

void TestCloudProxy::statisticsAndTally()
{
    CloudService service;
    CLOUDProxy proxy(nullptr, 0);
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));
    const auto video = openViewer(service.port(), kRoomA, "readvideo");
    const auto commands = openViewer(service.port(), kRoomA, "cmdchannel");
    QVERIFY(video && commands);
    proxy.onVoteStart("Q1", {"Yes", "No", "", "", ""});
    QTRY_COMPARE(commands->texts.size(), 1);
    commands->socket.sendTextMessage(R"({"command":"vote_result","result":"2"})");
    QTRY_VERIFY_WITH_TIMEOUT(proxy.voteResults().at(2) == 1, 8000);
    QCOMPARE(proxy.voteResults().at(0), 1);
    QCOMPARE(proxy.statistics().viewers, 1);
}

void TestCloudProxy::serverMessagesFillTheTally()
{
    CLOUDProxy proxy(nullptr, 0);
    proxy.processTextMessage(R"({"command":"on_stat_info","clients":4,"total_bytes":5000,
                                 "votes":[12,1,2,3,4,5,6,7,8,9,10,11]})");
    QCOMPARE(proxy.statistics().viewers, 4);
    QCOMPARE(proxy.statistics().sentBytes, qint64(5000));
    QCOMPARE(proxy.voteResults(), (QVector<qint32>{12, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    proxy.processTextMessage(R"({"command":"on_stat_info","clients":4})");
    QCOMPARE(proxy.voteResults(), QVector<qint32>(10, 0));
    proxy.processTextMessage("not json");
    QCOMPARE(proxy.statistics().viewers, 4);
}

void TestCloudProxy::questionFromViewerIsStoredDecoded()
{
    QuestionStoreDir storeDir;
    DBStorage store;
    CloudService service;
    CLOUDProxy proxy(&store, 0);
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));

    const QByteArray question = R"({"name":"Ann","msg":"Grüße & 100% sure?"})";
    QTcpSocket http;
    http.connectToHost(QHostAddress::LocalHost, service.port());
    QVERIFY(http.waitForConnected(5000));
    http.write("GET /feedback.php?room=" + kRoomA.toUtf8() +
               "&raw=" + question.toPercentEncoding() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    QByteArray response;
    connect(&http, &QTcpSocket::readyRead, [&] { response += http.readAll(); });
    QTRY_VERIFY(response.endsWith("\r\n\r\nOK"));
    QTRY_COMPARE(store.selectQuestions().size(), 1);
    QCOMPARE(store.selectQuestions().at(0).question, QString::fromUtf8("Grüße & 100% sure?"));
}

void TestCloudProxy::commandsReachTheirRoomOnly()
{
    CloudService service;
    CLOUDProxy proxyA(nullptr, 0);
    CLOUDProxy proxyB(nullptr, 0);
    QVERIFY(proxyA.connectToCloud(service.server(), kRoomA));
    QVERIFY(proxyB.connectToCloud(service.server(), kRoomB));
    const auto first = openViewer(service.port(), kRoomA, "cmdchannel");
    const auto second = openViewer(service.port(), kRoomA, "cmdchannel");
    const auto other = openViewer(service.port(), kRoomB, "cmdchannel");
    QVERIFY(first && second && other);

    proxyA.onVoteStart("Q1", {"Yes", "No", "", "", ""});
    proxyA.onRandomGameTick("#ff0000", 40);
    proxyA.onRandomGameFinish("lost", "won", "1234");
    QTRY_COMPARE(first->texts.size(), 3);
    QTRY_COMPARE(second->texts.size(), 3);
    QCOMPARE(commandOf(first->texts.at(0)), QString("vote_start"));
    QCOMPARE(commandOf(first->texts.at(1)), QString("random_game_tick"));
    QStringList finishes;
    for (const Viewer *viewer : {first.get(), second.get()}) {
        const QJsonObject finish = CommandMessages::parse(viewer->texts.at(2));
        QCOMPARE(CommandMessages::commandOf(finish), QString("random_game_finish"));
        finishes << (finish.contains("win_code") ? finish.value("win_code").toString()
                                                 : finish.value("lose_txt").toString());
    }
    finishes.sort();
    QCOMPARE(finishes, (QStringList{"1234", "lost"}));
    QTest::qWait(200);
    QVERIFY(other->texts.isEmpty());
}

void TestCloudProxy::secondPresenterAndLimitsRefused()
{
    CloudService service(0, {"--max-rooms", "1", "--max-viewers", "1"});
    CLOUDProxy proxy(nullptr, 0);
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));

    const auto refusal = [&](const QString &path) {
        QWebSocket socket;
        QSignalSpy closed(&socket, &QWebSocket::disconnected);
        socket.open(QUrl(QString("ws://%1%2").arg(service.server(), path)));
        if (!closed.wait(5000))
            return QString("not refused");
        return socket.closeReason();
    };
    QCOMPARE(refusal("/websocket/left/" + kRoomA), QString("this room already has a presenter"));
    QCOMPARE(refusal("/websocket/left/" + kRoomB), QString("the relay has no room left"));
    QCOMPARE(refusal("/websocket/right/" + kRoomB + "/readvideo"), QString("the room is not live"));
    const auto viewer = openViewer(service.port(), kRoomA, "readvideo");
    QVERIFY(viewer);
    QCOMPARE(refusal("/websocket/right/" + kRoomA + "/readvideo"), QString("the room is full"));
    QVERIFY(proxy.connected);

    // The room is freed once its presenter and viewers are gone, so another can take its place.
    proxy.disconnectFromCloud();
    viewer->socket.close();
    QTRY_COMPARE(refusal("/websocket/right/" + kRoomA + "/readvideo"),
                 QString("the room is not live"));
    CLOUDProxy next(nullptr, 0);
    QVERIFY(next.connectToCloud(service.server(), kRoomB));
    QTest::qWait(300);
    QCOMPARE(next.socket.state(), QAbstractSocket::ConnectedState);
}

void TestCloudProxy::reconnectsAfterServiceRestart()
{
    auto service = std::make_unique<CloudService>();
    const quint16 port = service->port();
    CLOUDProxy proxy(nullptr, 0);
    QSignalSpy failed(&proxy, &CLOUDProxy::reconnectFailed);
    QVERIFY(proxy.connectToCloud(service->server(), kRoomA));
    service->kill();
    QTRY_VERIFY(proxy.reconnectAttempts >= 1);
    service->start(port);
    QTRY_VERIFY_WITH_TIMEOUT(proxy.socket.state() == QAbstractSocket::ConnectedState &&
                                 proxy.reconnectAttempts == 0,
                             8000);
    const auto viewer = openViewer(port, kRoomA, "readvideo");
    QVERIFY(viewer);
    QTcpSocket writer;
    writer.connectToHost(QHostAddress::LocalHost, proxy.ingestPort());
    QVERIFY(writer.waitForConnected(5000));
    writer.write(packets(10, 3));
    QTRY_COMPARE(viewer->bytes, packets(10, 3));
    QCOMPARE(failed.count(), 0);
}

void TestCloudProxy::reconnectFailedOnceAfterTenAttempts()
{
    CloudService service;
    CLOUDProxy proxy(nullptr, 0);
    QSignalSpy failed(&proxy, &CLOUDProxy::reconnectFailed);
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));
    service.kill();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 8000);
    QCOMPARE(proxy.reconnectAttempts, CLOUDProxy::kMaxReconnectAttempts + 1);
    QTest::qWait(1000);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(proxy.reconnectAttempts, CLOUDProxy::kMaxReconnectAttempts + 1);
}

void TestCloudProxy::successfulReconnectResetsTheCount()
{
    ForwardedCloud cloud;
    QVERIFY(cloud.connect());
    TcpForwarder &link = cloud.link;
    CLOUDProxy &proxy = cloud.proxy;

    for (int loss = 0; loss < 2; ++loss) {
        link.cut();
        QTRY_VERIFY(proxy.reconnectAttempts >= 5);
        QVERIFY(link.open(link.port()));
        QTRY_VERIFY(proxy.socket.state() == QAbstractSocket::ConnectedState);
        QCOMPARE(proxy.reconnectAttempts, 0);
    }
    QCOMPARE(cloud.failed.count(), 0);
}

void TestCloudProxy::silentConnectionIsReplaced()
{
    ForwardedCloud cloud;
    QVERIFY(cloud.connect());
    CLOUDProxy &proxy = cloud.proxy;
    cloud.link.freeze();
    // Neither side hears the other: the service lets the room's presenter go, and the studio
    // gives up the silent connection and comes back on a new one.
    QTRY_VERIFY_WITH_TIMEOUT(proxy.reconnectAttempts >= 1,
                             CLOUDProxy::kMaxSilenceMs + 2 * CLOUDProxy::kPingIntervalMs);
    QTRY_VERIFY(proxy.socket.state() == QAbstractSocket::ConnectedState &&
                proxy.reconnectAttempts == 0);
    const auto viewer = openViewer(cloud.service.port(), kRoomA, "readvideo");
    QVERIFY(viewer);
    QTcpSocket writer;
    QVERIFY(writeOffGrid(writer, proxy.ingestPort(), packets(10, 4), 1000));
    QTRY_COMPARE(viewer->bytes, packets(10, 4));
    QCOMPARE(cloud.failed.count(), 0);
}

QTEST_GUILESS_MAIN(TestCloudProxy)
#include "tst_cloudproxy.moc"
