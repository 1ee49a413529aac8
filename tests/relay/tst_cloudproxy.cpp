#include "cloud/CloudRelay.h"
#include "cloud/CloudRoom.h"
#include "net/LogBudget.h"
#include "relay/CLOUDProxy.h"
#include "relay/CommandMessages.h"
#include "support/CloudService.h"
#include "support/Intruder.h"
#include "support/QuestionStoreDir.h"
#include "support/RawWebSocketClient.h"
#include "support/StudioKey.h"
#include "support/TcpForwarder.h"
#include "support/TsPackets.h"
#include "web/DBStorage.h"
#include "web/HttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <memory>
#include <numeric>

namespace {

// The service keeps a room this long after its presenter left (CloudRoom::kPresenterGraceMs).
constexpr int kRoomGraceMs = 5000;

// Two rooms of the test studio's key.
const QString kRoomA = StudioKey::room("00000000000000a1");
const QString kRoomB = StudioKey::room("00000000000000b2");

using TsPackets::packets;

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

QByteArray questionRequest(const QString &room, const QByteArray &question)
{
    return "GET /feedback.php?room=" + room.toUtf8() + "&raw=" + question.toPercentEncoding() +
           " HTTP/1.0\r\n\r\n";
}

// Posts `question` to room A of the service from `local`; the status code, 0 when none came.
// The event loop runs meanwhile: the studio that must answer lives in this process.
int postQuestion(quint16 port, const QByteArray &question, const QHostAddress &local)
{
    QTcpSocket http;
    http.bind(local);
    http.connectToHost(QHostAddress::LocalHost, port);
    QByteArray response;
    QObject::connect(&http, &QTcpSocket::readyRead, [&] { response += http.readAll(); });
    QObject::connect(&http, &QTcpSocket::connected,
                     [&] { http.write(questionRequest(kRoomA, question)); });
    QSignalSpy closed(&http, &QTcpSocket::disconnected);
    closed.wait(15000);
    return response.mid(9, 3).toInt();
}

// Questions posted to a room without waiting for their answers. A connection goes once answered
// or refused, and at most twice as many are open as the relay keeps waiting, so the flood costs
// the test little whatever the relay does with it.
class QuestionFlood
{
public:
    QuestionFlood(quint16 port, const QString &room) : m_port(port), m_room(room) {}

    void post(const QByteArray &question, const QHostAddress &local)
    {
        if (m_open >= kMaxOpen)
            return;
        auto *http = new QTcpSocket(&m_owner);
        auto response = std::make_shared<QByteArray>();
        ++m_open;
        ++m_posted;
        QObject::connect(http, &QTcpSocket::readyRead, http,
                         [http, response] { *response += http->readAll(); });
        QObject::connect(http, &QTcpSocket::connected, http, [this, http, question] {
            http->write(questionRequest(m_room, question));
        });
        // Not `disconnected`: a connection refused never was connected.
        QObject::connect(http, &QTcpSocket::stateChanged, http,
                         [this, http, response](QAbstractSocket::SocketState state) {
                             if (state != QAbstractSocket::UnconnectedState)
                                 return;
                             --m_open;
                             ++m_answers[response->mid(9, 3).toInt()];
                             http->deleteLater();
                         });
        http->bind(local);
        http->connectToHost(QHostAddress::LocalHost, m_port);
    }

    // How many were posted and how they were answered (status 0: no answer came).
    QString summary() const
    {
        QStringList answers;
        for (auto it = m_answers.cbegin(); it != m_answers.cend(); ++it)
            answers << QString("%1 x%2").arg(it.key()).arg(it.value());
        return QString("%1 questions posted, %2 unanswered, answers: %3")
            .arg(m_posted)
            .arg(m_open)
            .arg(answers.join(", "));
    }

private:
    static constexpr int kMaxOpen = 2 * CloudRoom::kMaxQuestionsWaiting;
    quint16 m_port;
    QString m_room;
    int m_open = 0;
    int m_posted = 0;
    QMap<int, int> m_answers;
    // Last: its sockets go first, while what their last signals count is still there.
    QObject m_owner;
};

// Far more pongs than any cap and the kernel's buffers together, until the service lets go. The
// service's log is the witness: a client that reads nothing may not see the reset at once.
bool floodWithPingsUntilLogged(RawWebSocketClient &pinger, const QString &logPath,
                               const QByteArray &line)
{
    const auto logged = [&] {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(line);
    };
    const QByteArray ping = RawWebSocketClient::clientFrame(0x9, QByteArray(125, 'p'));
    const QByteArray burst = ping.repeated(1000);
    QElapsedTimer spent;
    spent.start();
    qint64 offered = 0;
    while (!logged() && spent.elapsed() < 90000) {
        if (pinger.socket().state() == QAbstractSocket::ConnectedState &&
            pinger.socket().bytesToWrite() < 4 * burst.size()) {
            pinger.socket().write(burst);
            offered += burst.size();
        }
        pinger.socket().waitForBytesWritten(50);
        QCoreApplication::processEvents();
    }
    if (logged())
        return true;
    QFile log(logPath);
    const QByteArray tail =
        log.open(QIODevice::ReadOnly) ? log.readAll().right(2000) : QByteArray();
    qWarning() << "no drop logged after" << spent.elapsed() << "ms;" << offered
               << "bytes of pings offered," << pinger.socket().bytesToWrite() << "still unsent;"
               << pinger.socket().state() << pinger.socket().errorString()
               << "; the service's log ends:" << tail;
    return false;
}

// `presenter` opens room A from 127.0.0.10 and proves it is the test studio's, as a raw client
// that may then send what no studio would.
bool claimRoomA(RawWebSocketClient &presenter, quint16 port)
{
    QStringList received;
    const QMetaObject::Connection heard =
        QObject::connect(&presenter, &RawWebSocketClient::textReceived,
                         [&received](const QString &text) { received.append(text); });
    const auto admitted = [&] {
        if (!presenter.open(QHostAddress("127.0.0.10"), port, "/websocket/left/" + kRoomA) ||
            !QTest::qWaitFor([&] { return !received.isEmpty(); }, 5000))
            return false;
        const QByteArray challenge =
            PresenterClaim::challengeOf(CommandMessages::parse(received.first()));
        presenter.sendText(
            PresenterClaim::claimMessage(StudioKey::identity(), kRoomA, challenge).toUtf8());
        return QTest::qWaitFor([&] { return received.contains(PresenterClaim::admittedMessage()); },
                               5000);
    }();
    QObject::disconnect(heard);
    return admitted;
}

// The studio presenting in room A on the real service, with a video and a command viewer.
struct PresentedRoom
{
    QTemporaryDir logDir;
    QString logPath = logDir.filePath("relay.log");
    CloudService service{0, {}, logPath};
    StudioProxy proxy;
    std::unique_ptr<Viewer> video;
    std::unique_ptr<Viewer> commands;

    bool open()
    {
        if (!proxy.connectToCloud(service.server(), kRoomA))
            return false;
        video = openViewer(service.port(), kRoomA, "readvideo");
        commands = openViewer(service.port(), kRoomA, "cmdchannel");
        return video && commands;
    }
};

// The studio connected to the real service through a forwarder the test controls.
struct ForwardedCloud
{
    CloudService service;
    TcpForwarder link{service.port()};
    StudioProxy proxy;
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
    void sendsWholePacketsOnceAdmitted();
    void statisticsAndTally();
    void serverMessagesFillTheTally();
    void questionFromViewerIsStoredDecoded();
    void commandsReachTheirRoomOnly();
    void secondPresenterAndLimitsRefused();
    void reconnectsAfterServiceRestart();
    void reconnectFailedOnceAfterTenAttempts();
    void successfulReconnectResetsTheCount();
    void silentConnectionIsReplaced();
    void squatterIsRefused();
    void intruderGetsNothingAfterACut();
    void ownerReplacesItsSilentConnectionAtOnce();
    void unknownKeyIsRefused();
    void roomIsFreedAfterItsPresenterLeaves();
    void questionIsOkOnlyOnceStored();
    void questionsPerAddressAreLimited();
    void viewersAndClaimsPerAddressAreLimited();
    void viewerThatPingsButNeverReadsIsDropped();
    void presenterThatPingsButNeverReadsIsDropped();
    void presenterThatNeverReadsViewersMessagesIsDropped();
    void oversizedPresenterMessageReachesNobody();
    void studioSendsNothingTheRelayWouldDrop();
    void questionListsArePacedTheLatestLast();
    void pagesOfAnotherOriginAreRefused();
    void refusalsFromOneAddressLeaveTheLogSmall();
};

void TestCloudProxy::address_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("address");
    const QString tail = "/websocket/left/" + kRoomA;
    QTest::newRow("http") << "http://relay.example:8089"
                          << "ws://relay.example:8089" + tail;
    QTest::newRow("https") << "https://relay.example"
                           << "wss://relay.example" + tail;
    QTest::newRow("https, capitals") << "HTTPS://relay.example:8443"
                                     << "wss://relay.example:8443" + tail;
    QTest::newRow("no scheme") << "relay.example:8089"
                               << "ws://relay.example:8089" + tail;
}

void TestCloudProxy::address()
{
    QFETCH(QString, server);
    QFETCH(QString, address);
    QCOMPARE(kRoomA.size(), PresenterClaim::kTagChars + 1 + PresenterClaim::kDigestChars);
    QCOMPARE(CLOUDProxy::cloudAddress(server, kRoomA), address);
}

void TestCloudProxy::refusedConnectionOpensNoIngest()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    StudioProxy proxy;
    QVERIFY(!proxy.connectToCloud(QString("http://127.0.0.1:%1").arg(port), kRoomA));
    QVERIFY(!proxy.ingestServer.isListening());
    QVERIFY(!proxy.connected);
}

void TestCloudProxy::streamArrivesAsWholePacketsInItsRoomOnly()
{
    CloudService service;
    StudioProxy proxyA;
    StudioProxy proxyB;
    QVERIFY(proxyA.connectToCloud("http://" + service.server(), kRoomA));
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
    // The server has passed on all of room A's stream; a stray copy for room B would reach its
    // viewer before room B's own packets do.
    QTcpSocket writerB;
    const QByteArray own = packets(2, 9);
    QVERIFY(writeOffGrid(writerB, proxyB.ingestPort(), own, 188));
    QTRY_COMPARE(viewerB->bytes.size(), own.size());
    QCOMPARE(viewerB->bytes, own);
}

void TestCloudProxy::sendsWholePacketsOnceAdmitted()
{
    // A server that checks the claim as the service does, and sees what comes before admission.
    QWebSocketServer server("other relay", QWebSocketServer::NonSecureMode);
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QList<int> sizes;
    bool claimVerified = false;
    int beforeAdmission = 0;
    const QByteArray challenge = PresenterClaim::newChallenge();
    connect(&server, &QWebSocketServer::newConnection, [&] {
        QWebSocket *presenter = server.nextPendingConnection();
        presenter->setParent(&server); // the caller owns a socket the server hands out
        connect(presenter, &QWebSocket::binaryMessageReceived, [&](const QByteArray &message) {
            if (!claimVerified)
                ++beforeAdmission;
            sizes.append(message.size());
        });
        connect(presenter, &QWebSocket::textMessageReceived, [&, presenter](const QString &text) {
            const auto claim = PresenterClaim::claimOf(CommandMessages::parse(text));
            if (claimVerified || !PresenterClaim::verify(claim, kRoomA, challenge))
                return;
            claimVerified = claim.publicKey == StudioKey::identity().publicKey();
            presenter->sendTextMessage(PresenterClaim::admittedMessage());
        });
        presenter->sendTextMessage(PresenterClaim::challengeMessage(challenge));
    });
    StudioProxy proxy;
    QVERIFY(proxy.connectToCloud(QString("127.0.0.1:%1").arg(server.serverPort()), kRoomA));
    QVERIFY(claimVerified);
    QTcpSocket writer;
    const QByteArray stream = packets(20, 2);
    QVERIFY(writeOffGrid(writer, proxy.ingestPort(), stream, 500));
    QTRY_COMPARE(std::accumulate(sizes.begin(), sizes.end(), 0), stream.size());
    for (const int size : qAsConst(sizes))
        QCOMPARE(size % 188, 0);
    QCOMPARE(beforeAdmission, 0);
}

void TestCloudProxy::statisticsAndTally()
{
    PresentedRoom room;
    QVERIFY(room.open());
    StudioProxy &proxy = room.proxy;
    const auto &commands = room.commands;
    proxy.onVoteStart("Q1", {"Yes", "No", "", "", ""});
    QTRY_COMPARE(commands->texts.size(), 1);
    commands->socket.sendTextMessage(R"({"command":"vote_result","result":"2"})");
    QTRY_VERIFY_WITH_TIMEOUT(proxy.voteResults().at(2) == 1, 8000);
    QCOMPARE(proxy.voteResults().at(0), 1);
    QCOMPARE(proxy.statistics().viewers, 1);
}

void TestCloudProxy::serverMessagesFillTheTally()
{
    StudioProxy proxy;
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
    StudioProxy proxy(&store);
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
    StudioProxy proxyA;
    StudioProxy proxyB;
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
    // Room A's commands are all through; one stray for room B would come before its own.
    proxyB.onVoteStop();
    QTRY_COMPARE(other->texts.size(), 1);
    QCOMPARE(commandOf(other->texts.at(0)), QString("vote_stop"));
}

void TestCloudProxy::secondPresenterAndLimitsRefused()
{
    CloudService service(0, {"--max-rooms", "1", "--max-viewers", "1"});
    StudioProxy proxy;
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));

    const auto refusal = [&](const QString &path) {
        QWebSocket socket;
        QSignalSpy closed(&socket, &QWebSocket::disconnected);
        socket.open(QUrl(QString("ws://%1%2").arg(service.server(), path)));
        if (!closed.wait(5000))
            return QString("not refused");
        return socket.closeReason();
    };
    Intruder intruder(service.server(), kRoomA);
    QTRY_VERIFY(intruder.closed);
    QCOMPARE(intruder.closeReason, QString("this room belongs to another presenter"));
    StudioProxy second;
    QVERIFY(!second.connectToCloud(service.server(), kRoomB));
    QCOMPARE(second.socket.closeReason(), QString("the relay has no room left"));
    QCOMPARE(refusal("/websocket/right/" + kRoomB + "/readvideo"), QString("the room is not live"));
    QCOMPARE(refusal("/websocket/right/" + QString(5000, 'a') + "/readvideo"),
             QString("unknown path"));
    const auto viewer = openViewer(service.port(), kRoomA, "readvideo");
    QVERIFY(viewer);
    QCOMPARE(refusal("/websocket/right/" + kRoomA + "/readvideo"), QString("the room is full"));
    QVERIFY(proxy.connected);

    // The room is freed once its presenter has gone, so another can take its place.
    proxy.disconnectFromCloud();
    QTRY_COMPARE_WITH_TIMEOUT(viewer->socket.state(), QAbstractSocket::UnconnectedState,
                              4 * kRoomGraceMs);
    StudioProxy next;
    QVERIFY(next.connectToCloud(service.server(), kRoomB));
    QVERIFY(next.admitted());
}

void TestCloudProxy::squatterIsRefused()
{
    CloudService service;
    // Before the studio starts, someone who read the link tries to present in its room.
    Intruder squatter(service.server(), kRoomA);
    Intruder silent(service.server(), kRoomA, false);
    QTRY_VERIFY(squatter.closed && silent.closed);
    QVERIFY(!squatter.admitted && !silent.admitted);
    QCOMPARE(squatter.closeReason, QString("this room belongs to another presenter"));
    QCOMPARE(silent.closeReason, QString("a presenter must claim its room first"));

    StudioProxy proxy;
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));
    const auto viewer = openViewer(service.port(), kRoomA, "readvideo");
    QVERIFY(viewer);
    QTcpSocket writer;
    QVERIFY(writeOffGrid(writer, proxy.ingestPort(), packets(10, 5), 1000));
    QTRY_COMPARE(viewer->bytes, packets(10, 5));
}

void TestCloudProxy::intruderGetsNothingAfterACut()
{
    ForwardedCloud cloud;
    QVERIFY(cloud.connect());
    const auto video = openViewer(cloud.service.port(), kRoomA, "readvideo");
    const auto commands = openViewer(cloud.service.port(), kRoomA, "cmdchannel");
    QVERIFY(video && commands);

    // The studio's connection is cut; intruders try again and again before it is back.
    cloud.link.cut();
    QTRY_VERIFY(cloud.proxy.reconnectAttempts >= 1);
    for (int attempt = 0; attempt < 5; ++attempt) {
        Intruder intruder(cloud.service.server(), kRoomA, attempt % 2 == 0);
        QTRY_VERIFY(intruder.closed);
        QVERIFY(!intruder.admitted);
    }
    QVERIFY(cloud.link.open(cloud.link.port()));
    QTRY_VERIFY(cloud.proxy.admitted());
    QTcpSocket writer;
    QVERIFY(writeOffGrid(writer, cloud.proxy.ingestPort(), packets(10, 6), 1000));
    cloud.proxy.onVoteStop();
    QTRY_COMPARE(video->bytes, packets(10, 6));
    QTRY_COMPARE(commands->texts.size(), 1);
    QCOMPARE(commandOf(commands->texts.at(0)), QString("vote_stop"));
    QVERIFY(!Intruder::within(video->bytes));
    QCOMPARE(cloud.failed.count(), 0);
}

void TestCloudProxy::ownerReplacesItsSilentConnectionAtOnce()
{
    ForwardedCloud cloud;
    QVERIFY(cloud.connect());
    const auto viewer = openViewer(cloud.service.port(), kRoomA, "readvideo");
    QVERIFY(viewer);
    // The old connection died silently; the studio (here a second client of the same key)
    // comes back on a new one long before the service would notice the silence.
    cloud.link.freeze();
    StudioProxy again;
    QVERIFY(again.connectToCloud(cloud.service.server(), kRoomA));
    QTcpSocket writer;
    QVERIFY(writeOffGrid(writer, again.ingestPort(), packets(10, 7), 1000));
    QTRY_COMPARE(viewer->bytes, packets(10, 7));
}

void TestCloudProxy::unknownKeyIsRefused()
{
    QTemporaryDir dir;
    QFile keys(dir.filePath("presenters"));
    QVERIFY(keys.open(QIODevice::WriteOnly));
    keys.write("# the operator's own studio\n" +
               PresenterIdentity::generate().publicKey().toBase64() + "\n");
    keys.close();
    {
        CloudService service(0, {"--presenters", keys.fileName()});
        StudioProxy proxy;
        QVERIFY(!proxy.connectToCloud(service.server(), kRoomA));
        QCOMPARE(proxy.socket.closeReason(),
                 QString("this relay does not know the presenter's key"));
        QVERIFY(!proxy.ingestServer.isListening());
    }
    QVERIFY(keys.open(QIODevice::Append));
    keys.write(StudioKey::identity().publicKey().toBase64() + "  # this studio\n");
    keys.close();
    CloudService service(0, {"--presenters", keys.fileName()});
    StudioProxy proxy;
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));
}

void TestCloudProxy::roomIsFreedAfterItsPresenterLeaves()
{
    PresentedRoom room;
    QVERIFY(room.open());
    const CloudService &service = room.service;
    const auto &video = room.video;
    const auto &commands = room.commands;
    room.proxy.disconnectFromCloud();
    // Idle viewers do not keep the room: they are sent away a few seconds later.
    QTRY_VERIFY_WITH_TIMEOUT(video->socket.state() == QAbstractSocket::UnconnectedState &&
                                 commands->socket.state() == QAbstractSocket::UnconnectedState,
                             4 * kRoomGraceMs);
    QWebSocket late;
    QSignalSpy closed(&late, &QWebSocket::disconnected);
    late.open(QUrl(QString("ws://%1/websocket/right/%2/readvideo").arg(service.server(), kRoomA)));
    QVERIFY(closed.wait(5000));
    QCOMPARE(late.closeReason(), QString("the room is not live"));
}

void TestCloudProxy::reconnectsAfterServiceRestart()
{
    auto service = std::make_unique<CloudService>();
    const quint16 port = service->port();
    StudioProxy proxy;
    QSignalSpy failed(&proxy, &CLOUDProxy::reconnectFailed);
    QVERIFY(proxy.connectToCloud(service->server(), kRoomA));
    service->kill();
    QTRY_VERIFY(proxy.reconnectAttempts >= 1);
    service->start(port);
    QTRY_VERIFY_WITH_TIMEOUT(proxy.admitted() && proxy.reconnectAttempts == 0, 8000);
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
    StudioProxy proxy;
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
        QTRY_VERIFY(proxy.admitted());
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
    QTRY_VERIFY(proxy.admitted() && proxy.reconnectAttempts == 0);
    const auto viewer = openViewer(cloud.service.port(), kRoomA, "readvideo");
    QVERIFY(viewer);
    QTcpSocket writer;
    QVERIFY(writeOffGrid(writer, proxy.ingestPort(), packets(10, 4), 1000));
    QTRY_COMPARE(viewer->bytes, packets(10, 4));
    QCOMPARE(cloud.failed.count(), 0);
}

void TestCloudProxy::questionIsOkOnlyOnceStored()
{
    // A studio that cannot store the question: the viewer must not read "OK".
    PresentedRoom room;
    QVERIFY(room.open());
    QCOMPARE(postQuestion(room.service.port(), R"({"name":"Ann","msg":"Lost?"})",
                          QHostAddress("127.0.0.7")),
             503);
}

void TestCloudProxy::questionsPerAddressAreLimited()
{
    QuestionStoreDir storeDir;
    DBStorage store;
    CloudService service;
    StudioProxy proxy(&store);
    QVERIFY(proxy.connectToCloud(service.server(), kRoomA));
    QList<int> codes;
    for (int i = 0; i < 8; ++i)
        codes << postQuestion(service.port(), R"({"name":"Bot","msg":"again"})",
                              QHostAddress("127.0.0.8"));
    QVERIFY2(codes.count(429) >= 2, qPrintable(QString::number(codes.count(429))));
    QCOMPARE(codes.count(200) + codes.count(429), 8);
    // Another address is not held back by the first.
    QCOMPARE(
        postQuestion(service.port(), R"({"name":"Eve","msg":"mine"})", QHostAddress("127.0.0.9")),
        200);
}

void TestCloudProxy::viewersAndClaimsPerAddressAreLimited()
{
    PresentedRoom room;
    QVERIFY(room.open());
    // Claims at once from one address: the first ones are looked at and refused for good, the
    // others turned away for now, without a look.
    std::vector<std::unique_ptr<Intruder>> claims;
    for (int i = 0; i < 2 * int(CloudRelay::kClaimBurst); ++i)
        claims.push_back(std::make_unique<Intruder>(room.service.server(), kRoomA));
    QStringList reasons;
    for (const auto &intruder : claims) {
        QTRY_VERIFY(intruder->closed);
        QVERIFY(!intruder->admitted);
        reasons << intruder->closeReason;
    }
    const int lookedAt = int(reasons.count("this room belongs to another presenter"));
    QVERIFY2(lookedAt > 0 && lookedAt <= int(CloudRelay::kClaimBurst),
             qPrintable(reasons.join(", ")));
    claims.clear();

    // The room's two viewers and these come from 127.0.0.1.
    std::vector<std::unique_ptr<Viewer>> crowd;
    for (int i = 2; i < CloudRoom::kMaxViewersPerAddress; ++i) {
        crowd.push_back(openViewer(room.service.port(), kRoomA, "cmdchannel"));
        QVERIFY(crowd.back());
    }
    const auto extra = openViewer(room.service.port(), kRoomA, "readvideo");
    QVERIFY(extra);
    QTRY_COMPARE(extra->socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(extra->socket.closeReason(),
             QString("too many viewers from this address in this room"));
    QVERIFY(room.proxy.connected);
}

void TestCloudProxy::viewerThatPingsButNeverReadsIsDropped()
{
    PresentedRoom room;
    QVERIFY(room.open());
    RawWebSocketClient pinger;
    pinger.smallReceiveBuffer();
    QVERIFY(pinger.open(QHostAddress("127.0.0.10"), room.service.port(),
                        "/websocket/right/" + kRoomA + "/cmdchannel"));
    pinger.stall();
    QVERIFY(floodWithPingsUntilLogged(pinger, room.logPath, "dropping viewer 127.0.0.10:"));
    // The honest viewer is still served.
    room.proxy.onVoteStop();
    QTRY_COMPARE(room.commands->texts.size(), 1);
}

void TestCloudProxy::presenterThatPingsButNeverReadsIsDropped()
{
    // Qt answers a presenter socket's pings before its claim as after it.
    QTemporaryDir dir;
    const QString logPath = dir.filePath("relay.log");
    CloudService service(0, {}, logPath);
    RawWebSocketClient pinger;
    pinger.smallReceiveBuffer();
    QVERIFY(pinger.open(QHostAddress("127.0.0.10"), service.port(), "/websocket/left/" + kRoomA));
    pinger.stall();
    QVERIFY(floodWithPingsUntilLogged(pinger, logPath, "a presenter that does not read"));
}

void TestCloudProxy::presenterThatNeverReadsViewersMessagesIsDropped()
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath("relay.log");
    CloudService service(0, {}, logPath);
    RawWebSocketClient presenter;
    presenter.smallReceiveBuffer();
    QVERIFY(claimRoomA(presenter, service.port()));
    // From now on it sends its stream (so it is never silent) but takes nothing.
    presenter.stall();
    // Questions are what the relay passes on whole and longest: each as long as a request line
    // may be, from enough addresses that their buckets let the room's whole waiting list (2 MB)
    // through at once. On loopback the relay's kernel send buffer grows to megabytes and takes
    // about one such list, so the cap is passed within one or two answer timeouts. (Upvotes are
    // cut short and paced per address: they took a minute, and under a sanitizer more.)
    const QByteArray question = R"({"name":"Flood","msg":")" +
                                QByteArray(HttpServer::kMaxRequestLineBytes - 300, 'q') + R"("})";
    QuestionFlood flood(service.port(), kRoomA);
    const QByteArray stream = RawWebSocketClient::clientFrame(0x2, Intruder::packets());
    const auto logged = [&logPath] {
        QFile log(logPath);
        return log.open(QIODevice::ReadOnly) &&
               log.readAll().contains("drops a presenter that does not read");
    };
    QElapsedTimer spent;
    spent.start();
    do {
        for (int i = 0; i < CloudRoom::kMaxQuestionsWaiting / 2; ++i)
            flood.post(question, QHostAddress(QString("127.0.3.%1").arg(1 + i)));
        presenter.sendRaw(stream);
    } while (!QTest::qWaitFor(logged, 500) && spent.elapsed() < 30000);
    // Dropped for what it did not take, not for silence (it never stopped sending). A client
    // that reads nothing does not see the reset, so the relay's log is the witness.
    QVERIFY2(
        logged(),
        qPrintable(
            QString("no drop logged after %1 ms; %2").arg(spent.elapsed()).arg(flood.summary())));
}

void TestCloudProxy::oversizedPresenterMessageReachesNobody()
{
    CloudService service;
    RawWebSocketClient presenter;
    QVERIFY(claimRoomA(presenter, service.port()));
    const auto commands = openViewer(service.port(), kRoomA, "cmdchannel");
    QVERIFY(commands);
    // What no studio sends: the relay drops it unparsed.
    presenter.sendText(R"({"command":"vote_start","title":")" +
                       QByteArray(2 * CommandMessages::kMaxCommandChars, 'x') +
                       R"(","options":["Yes","No"]})");
    presenter.sendText(CommandMessages::voteStop().toUtf8());
    QTRY_COMPARE(commands->texts.size(), 1);
    QCOMPARE(commandOf(commands->texts.at(0)), QString("vote_stop"));
}

void TestCloudProxy::studioSendsNothingTheRelayWouldDrop()
{
    PresentedRoom room;
    QVERIFY(room.open());
    // A title longer than any the relay passes on is cut, and the vote reaches the viewers.
    room.proxy.onVoteStart(QString(64 * 1024, 'x'), {"Yes", "No", "", "", ""});
    QTRY_COMPARE(room.commands->texts.size(), 1);
    QCOMPARE(CommandMessages::parse(room.commands->texts.at(0)).value("title").toString(),
             QString(CommandMessages::kMaxTitleChars, 'x'));
    // A text built elsewhere and too long stays in the studio, with a line saying why.
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("is not sent: the relay passes at most 16384"));
    room.proxy.sendCommand(QString(R"({"command":"quiz_question","title":"%1"})")
                               .arg(QString(CommandMessages::kMaxCommandChars, 'x')));
    room.proxy.onVoteStop();
    QTRY_COMPARE(room.commands->texts.size(), 2);
    QCOMPARE(commandOf(room.commands->texts.at(1)), QString("vote_stop"));
    QFile log(room.logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(!log.readAll().contains("drops a presenter message"));
}

void TestCloudProxy::questionListsArePacedTheLatestLast()
{
    PresentedRoom room;
    QVERIFY(room.open());
    // Longer than other presenter messages may be, and more of them at once than they may.
    const QString question(20 * 1024, 'q');
    const auto list = [&](int total) {
        return QString(R"({"command":"questions","highlight":0,"total":%1,"questions":[{"id":1,)"
                       R"("question":"%2"}]})")
            .arg(total)
            .arg(question);
    };
    for (int total = 1; total <= 60; ++total)
        room.proxy.sendCommand(list(total));
    // The first at once, the latest once the pace lets it; most between are never sent.
    QTRY_VERIFY(room.commands->texts.contains(list(60)));
    QCOMPARE(room.commands->texts.first(), list(1));
    QVERIFY(room.commands->texts.size() < 60);
    QCOMPARE(room.commands->texts.last(), list(60));
    // A page that joins now has the latest at once.
    const auto late = openViewer(room.service.port(), kRoomA, "cmdchannel");
    QVERIFY(late);
    QTRY_COMPARE(late->texts, QStringList{list(60)});
}

void TestCloudProxy::pagesOfAnotherOriginAreRefused()
{
    PresentedRoom room;
    QVERIFY(room.open());
    const QUrl commands(
        QString("ws://%1/websocket/right/%2/cmdchannel").arg(room.service.server(), kRoomA));
    QWebSocket foreign("http://evil.example");
    QSignalSpy closed(&foreign, &QWebSocket::disconnected);
    foreign.open(commands);
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(foreign.closeReason(), QString("pages of this origin may not use the relay"));

    // The relay's own page is served: it hears the vote.
    QWebSocket own("http://" + room.service.server());
    QStringList texts;
    connect(&own, &QWebSocket::textMessageReceived, [&](const QString &text) { texts << text; });
    QSignalSpy connected(&own, &QWebSocket::connected);
    own.open(commands);
    QVERIFY(connected.wait(5000));
    room.proxy.onVoteStop();
    QTRY_COMPARE(texts.size(), 1);
}

void TestCloudProxy::refusalsFromOneAddressLeaveTheLogSmall()
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath("relay.log");
    CloudService service(0, {}, logPath);
    constexpr int kAttempts = 60;
    for (int i = 0; i < kAttempts; ++i) {
        QWebSocket socket;
        QSignalSpy closed(&socket, &QWebSocket::disconnected);
        socket.open(
            QUrl(QString("ws://%1/websocket/right/nowhere/readvideo").arg(service.server())));
        QVERIFY(closed.wait(5000));
        QCOMPARE(socket.closeReason(), QString("unknown path"));
    }
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const int lines = int(log.readAll().count("unknown path"));
    // A window lets kLinesPerWindow through; a slow machine may span two or three.
    QVERIFY2(lines >= 1 && lines <= 3 * LogBudget::kLinesPerWindow && lines < kAttempts,
             qPrintable(QString::number(lines)));
}

QTEST_GUILESS_MAIN(TestCloudProxy)
#include "tst_cloudproxy.moc"
