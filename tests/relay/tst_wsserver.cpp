#include "net/LogBudget.h"
#include "relay/ViewerAcceptor.h"
#include "relay/ViewerChannel.h"
#include "relay/WSServer.h"

#include "support/LogCapture.h"
#include "support/RawWebSocketClient.h"
#include "support/TsPackets.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One transport-stream packet whose payload bytes all carry `index`, so that a
// torn or mixed packet shows up as a payload that is not uniform.
QByteArray tsPacket(int pid, int index)
{
    QByteArray packet(188, char(index & 0xff));
    packet[0] = 0x47;
    packet[1] = char((pid >> 8) & 0x1f);
    packet[2] = char(pid & 0xff);
    packet[3] = char(0x10 | (index & 0x0f));
    return packet;
}

QByteArray tsStream(int pid, int packets)
{
    QByteArray stream;
    for (int i = 0; i < packets; ++i)
        stream += tsPacket(pid, i);
    return stream;
}

std::unique_ptr<QWebSocket> openViewer(quint16 port, const QString &path)
{
    auto socket = std::make_unique<QWebSocket>();
    QSignalSpy connected(socket.get(), &QWebSocket::connected);
    socket->open(QUrl(QString("ws://127.0.0.1:%1%2").arg(port).arg(path)));
    if (!connected.wait(5000))
        return nullptr;
    return socket;
}

struct ViewerBytes
{
    QByteArray bytes;
    QList<int> messageSizes;
};

std::unique_ptr<ViewerBytes> collectBinary(QWebSocket *socket)
{
    auto collected = std::make_unique<ViewerBytes>();
    QObject::connect(socket, &QWebSocket::binaryMessageReceived,
                     [sink = collected.get()](const QByteArray &message) {
                         sink->bytes += message;
                         sink->messageSizes.append(message.size());
                     });
    return collected;
}

// A viewer that collects from its first message on: a late joiner's head start arrives right
// behind the handshake.
struct CollectingViewer
{
    std::unique_ptr<QWebSocket> socket = std::make_unique<QWebSocket>();
    std::unique_ptr<ViewerBytes> received = collectBinary(socket.get());

    bool open(quint16 port, const QString &path)
    {
        QSignalSpy connected(socket.get(), &QWebSocket::connected);
        socket->open(QUrl(QString("ws://127.0.0.1:%1%2").arg(port).arg(path)));
        return connected.wait(5000);
    }
};

std::unique_ptr<QTcpSocket> openIngest(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

} // namespace

class TestWSServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fanOutCountsEveryByteAndViewer();
    void bytesWithoutViewersAreCountedAndDropped();
    void interleavedIngestDeliversWholePackets();
    void pathsDecideTheRole_data();
    void pathsDecideTheRole();
    void voteAnswersOnePerAddress();
    void voteStartCountsRecipients();
    void randomGameHasExactlyOneWinner();
    void randomGameWithoutViewersSendsNothing();
    void stalledViewerIsClosedOthersKeepReceiving();
    void oversizedCommandClosesTheViewer();
    void unmaskedFrameClosesWithProtocolError();
    void viewerThatPingsButNeverReadsIsDropped();
    void commandViewersThatNeverReadShareOneBudget();
    void socketOnAnUnservedPathIsClosedSoon();
    void messageFloodLeavesTheLogSmall();
    void oneAddressCannotLockOthersOut();
    void connectBurstWaitsInTheListenQueue();
    void secondStartOnlyZeroesCounters();
    void finishedIngestConnectionIsReleased();
    void lateViewerStartsAtTheLastFullPicture();
    void stalledViewerIsDroppedWithoutStream();
    void finishedVideoConnectionTakesItsCacheAlong();

private:
    std::unique_ptr<WSServer> m_server;
    quint16 m_port = 0;
};

void TestWSServer::init()
{
    m_server = std::make_unique<WSServer>(0);
    m_server->start("127.0.0.1", 0);
    QVERIFY(m_server->isListening());
    QVERIFY(m_server->ingestServer.isListening());
    m_port = m_server->serverPort();
}

void TestWSServer::cleanup()
{
    m_server->stop();
    m_server.reset();
}

void TestWSServer::fanOutCountsEveryByteAndViewer()
{
    std::vector<std::unique_ptr<QWebSocket>> viewers;
    std::vector<std::unique_ptr<ViewerBytes>> received;
    for (int i = 0; i < 3; ++i) {
        viewers.push_back(openViewer(m_port, "/readvideo"));
        QVERIFY(viewers.back());
        received.push_back(collectBinary(viewers.back().get()));
    }
    QTRY_COMPARE(m_server->room().videoViewers(), 3);

    auto ingest = openIngest(m_server->ingestPort());
    QVERIFY(ingest);
    const QByteArray stream = tsStream(0x100, 6); // 1128 bytes
    ingest->write(stream.left(1000));
    ingest->flush();
    // Every byte read is counted; only the five whole packets (940 bytes) go out
    // until the sixth is complete.
    QTRY_COMPARE(m_server->receivedBytes, qint64(1000));
    for (auto &viewer : received)
        QTRY_COMPARE(viewer->bytes.size(), 940);
    QCOMPARE(m_server->statistics().sentBytes, qint64(3 * 940));

    ingest->write(stream.mid(1000));
    ingest->flush();
    QTRY_COMPARE(m_server->receivedBytes, qint64(1128));
    for (auto &viewer : received) {
        QTRY_COMPARE(viewer->bytes, stream);
        for (int size : viewer->messageSizes)
            QCOMPARE(size % 188, 0);
    }
    QCOMPARE(m_server->statistics().sentBytes, qint64(3 * 1128));
}

void TestWSServer::bytesWithoutViewersAreCountedAndDropped()
{
    auto ingest = openIngest(m_server->ingestPort());
    QVERIFY(ingest);
    ingest->write(tsStream(0x100, 10));
    QTRY_COMPARE(m_server->receivedBytes, qint64(1880));
    QCOMPARE(m_server->statistics().sentBytes, qint64(0));
}

void TestWSServer::interleavedIngestDeliversWholePackets()
{
    auto viewer = openViewer(m_port, "/readvideo");
    QVERIFY(viewer);
    auto received = collectBinary(viewer.get());
    QTRY_COMPARE(m_server->room().videoViewers(), 1);

    const int packetsPerStream = 300;
    const QByteArray video = tsStream(0x100, packetsPerStream);
    const QByteArray audio = tsStream(0x101, packetsPerStream);
    auto videoIngest = openIngest(m_server->ingestPort());
    auto audioIngest = openIngest(m_server->ingestPort());
    QVERIFY(videoIngest && audioIngest);

    // Pieces deliberately off the 188-byte grid, alternating between the two
    // connections so the relay's reads interleave mid-packet.
    QRandomGenerator random(7);
    int videoOffset = 0, audioOffset = 0;
    while (videoOffset < video.size() || audioOffset < audio.size()) {
        const int videoPiece = int(random.bounded(1, 700));
        videoIngest->write(video.mid(videoOffset, videoPiece));
        videoIngest->flush();
        videoOffset += videoPiece;
        QCoreApplication::processEvents();
        const int audioPiece = int(random.bounded(1, 300));
        audioIngest->write(audio.mid(audioOffset, audioPiece));
        audioIngest->flush();
        audioOffset += audioPiece;
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(received->bytes.size(), video.size() + audio.size());
    QVERIFY(received->messageSizes.size() > 2);
    for (int size : received->messageSizes)
        QCOMPARE(size % 188, 0);

    QHash<int, int> nextIndex;
    for (int offset = 0; offset < received->bytes.size(); offset += 188) {
        const QByteArray packet = received->bytes.mid(offset, 188);
        QCOMPARE(packet[0], char(0x47));
        const int pid = (uchar(packet[1]) & 0x1f) << 8 | uchar(packet[2]);
        QVERIFY(pid == 0x100 || pid == 0x101);
        const int index = nextIndex[pid]++;
        QCOMPARE(packet, tsPacket(pid, index));
    }
    QCOMPARE(nextIndex.value(0x100), packetsPerStream);
    QCOMPARE(nextIndex.value(0x101), packetsPerStream);
}

void TestWSServer::pathsDecideTheRole_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("video");
    QTest::addColumn<bool>("command");

    QTest::newRow("video") << "/readvideo" << true << false;
    QTest::newRow("video after a longer path") << "/room/42/readvideo" << true << false;
    QTest::newRow("video with trailing slash") << "/readvideo/" << false << false;
    QTest::newRow("video, other case") << "/ReadVideo" << false << false;
    QTest::newRow("command") << "/cmdchannel" << false << true;
    QTest::newRow("command after a longer path") << "/x/cmdchannel" << false << true;
    QTest::newRow("command with trailing slash") << "/cmdchannel/" << false << false;
    QTest::newRow("neither") << "/" << false << false;
}

void TestWSServer::pathsDecideTheRole()
{
    QFETCH(QString, path);
    QFETCH(bool, video);
    QFETCH(bool, command);

    auto socket = openViewer(m_port, path);
    QVERIFY(socket);
    QTRY_COMPARE(m_server->wsServer->hasPendingConnections(), false);
    QCoreApplication::processEvents();
    QCOMPARE(m_server->room().videoViewers(), video ? 1 : 0);
    QCOMPARE(m_server->room().commandViewers(), command ? 1 : 0);

    // A socket on neither path is closed after a grace (socketOnAnUnservedPathIsClosedSoon); here
    // the viewer leaves first, and the relay forgets whatever it joined.
    socket->close();
    QTRY_COMPARE(m_server->room().videoViewers() + m_server->room().commandViewers(), 0);
}

void TestWSServer::voteAnswersOnePerAddress()
{
    // Distinct loopback source addresses stand for distinct viewers.
    RawWebSocketClient first, second, third;
    QVERIFY(first.open(QHostAddress("127.0.0.2"), m_port, "/cmdchannel"));
    QVERIFY(second.open(QHostAddress("127.0.0.3"), m_port, "/cmdchannel"));
    QVERIFY(third.open(QHostAddress("127.0.0.4"), m_port, "/cmdchannel"));
    QTRY_COMPARE(m_server->room().commandViewers(), 3);

    m_server->onVoteStart("Q1", {"A", "B", "C", "D", "E"});
    QTRY_COMPARE(first.textMessages.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(first.textMessages[0].toUtf8())["command"].toString(),
             QString("vote_start"));

    first.sendText(R"({"command":"vote_result","result":"3"})");
    first.sendText(R"({"command":"vote_result","result":"5"})");
    second.sendText(R"({"command":"vote_result","result":2})");
    second.sendText(R"({"command":"vote_result","result":"0"})");
    second.sendText(R"({"command":"vote_result","result":"-2"})");
    second.sendText(R"({"command":"vote_result","result":"abc"})");
    second.sendText("not json at all");
    third.sendText(R"({"result":"12","command":"vote_result"})");
    // The first viewer's last answer counts; the third's, beyond the options, is not shown.
    const QVector<qint32> expected{3, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    QTRY_COMPARE(m_server->voteResults(), expected);

    // Answers after the stop still count; the next start clears the tally.
    m_server->onVoteStop();
    QTRY_COMPARE(second.textMessages.size(), 2);
    second.sendText(R"({"command":"vote_result","result":"1"})");
    QTRY_COMPARE(m_server->voteResults()[1], 1);
    m_server->onVoteStart("Q2", {"A", "B", "", "", ""});
    QCOMPARE(m_server->voteResults(), (QVector<qint32>{3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

void TestWSServer::voteStartCountsRecipients()
{
    m_server->onVoteStart("Nobody here", {"A", "B", "C", "D", "E"});
    QCOMPARE(m_server->voteResults()[0], 0);

    auto video = openViewer(m_port, "/readvideo");
    auto command = openViewer(m_port, "/cmdchannel");
    QVERIFY(video && command);
    QTRY_COMPARE(m_server->room().commandViewers(), 1);
    m_server->onVoteStart("One", {"A", "B", "C", "D", "E"});
    QCOMPARE(m_server->voteResults()[0], 1);
}

void TestWSServer::randomGameHasExactlyOneWinner()
{
    // One ticket per address: distinct loopback source addresses stand for distinct viewers.
    RawWebSocketClient viewers[4];
    for (int i = 0; i < 4; ++i)
        QVERIFY(
            viewers[i].open(QHostAddress(QString("127.0.0.%1").arg(i + 2)), m_port, "/cmdchannel"));
    QTRY_COMPARE(m_server->room().commandViewers(), 4);

    m_server->onRandomGameTick("#ff0000", 42);
    for (RawWebSocketClient &viewer : viewers)
        QTRY_COMPARE(viewer.textMessages.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(viewers[0].textMessages[0].toUtf8())["proc"].toInt(), 42);

    QVector<int> wins(4, 0);
    for (int round = 1; round <= 60; ++round) {
        m_server->onRandomGameFinish("lost", "won", "C0DE");
        int winners = 0;
        for (int i = 0; i < 4; ++i) {
            QTRY_COMPARE(viewers[i].textMessages.size(), round + 1);
            const QJsonObject message =
                QJsonDocument::fromJson(viewers[i].textMessages.last().toUtf8()).object();
            QCOMPARE(message["command"].toString(), QString("random_game_finish"));
            if (message.contains("win_code")) {
                ++winners;
                ++wins[i];
                QCOMPARE(message["win_txt"].toString(), QString("won"));
            } else {
                QCOMPARE(message["lose_txt"].toString(), QString("lost"));
            }
        }
        QCOMPARE(winners, 1);
    }
    // A fair draw leaves some viewer without a win in 60 rounds about once in ten million runs.
    for (int i = 0; i < 4; ++i)
        QVERIFY2(wins[i] > 0, qPrintable(QString("viewer %1 never won").arg(i)));

    // More sockets from one address add no ticket: the address wins a quarter of the draws at
    // most, whatever its count.
    RawWebSocketClient crowd[3];
    for (RawWebSocketClient &socket : crowd)
        QVERIFY(socket.open(QHostAddress("127.0.0.2"), m_port, "/cmdchannel"));
    QTRY_COMPARE(m_server->room().commandViewers(), 7);
    for (int round = 0; round < 20; ++round)
        m_server->onRandomGameFinish("lost", "won", "C0DE");
    int crowdWins = 0;
    for (RawWebSocketClient &socket : crowd) {
        QTRY_COMPARE(socket.textMessages.size(), 20);
        for (const QString &text : socket.textMessages)
            crowdWins += text.contains("win_code");
    }
    QCOMPARE(crowdWins, 0);
}

void TestWSServer::randomGameWithoutViewersSendsNothing()
{
    auto video = openViewer(m_port, "/readvideo");
    QVERIFY(video);
    QSignalSpy texts(video.get(), &QWebSocket::textMessageReceived);
    QTest::ignoreMessage(QtDebugMsg, "no clients");
    m_server->onRandomGameFinish("lost", "won", "C0DE");
    // Anything sent to the viewer by the finish would arrive before the stream that follows it.
    const auto received = collectBinary(video.get());
    auto ingest = openIngest(m_server->ingestPort());
    QVERIFY(ingest);
    const QByteArray picture = TsPackets::videoFrame(0x100, true, 1);
    ingest->write(picture);
    QTRY_COMPARE(received->bytes, picture);
    QCOMPARE(texts.count(), 0);
}

void TestWSServer::stalledViewerIsClosedOthersKeepReceiving()
{
    auto healthy = openViewer(m_port, "/readvideo");
    QVERIFY(healthy);
    auto received = collectBinary(healthy.get());
    RawWebSocketClient stalled;
    QVERIFY(stalled.open(QHostAddress("127.0.0.5"), m_port, "/readvideo"));
    stalled.stall();
    QTRY_COMPARE(m_server->room().videoViewers(), 2);

    auto ingest = openIngest(m_server->ingestPort());
    QVERIFY(ingest);
    // Far more than the kernel's socket buffers plus the backlog bound can absorb.
    const QByteArray chunk = tsStream(0x100, 100);
    const qint64 total = 40LL * 1024 * 1024 / chunk.size() * chunk.size();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("closing slow viewer"));
    for (qint64 sent = 0; sent < total; sent += chunk.size()) {
        ingest->write(chunk);
        if (ingest->bytesToWrite() > 1024 * 1024)
            ingest->waitForBytesWritten(1000);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(received->bytes.size(), int(total), 20000);
    QCOMPARE(m_server->room().videoViewers(), 1);
}

void TestWSServer::oversizedCommandClosesTheViewer()
{
    auto command = openViewer(m_port, "/cmdchannel");
    QVERIFY(command);
    QTRY_COMPARE(m_server->room().commandViewers(), 1);
    QSignalSpy disconnected(command.get(), &QWebSocket::disconnected);
    command->sendTextMessage(QString(1024 * 1024, 'x'));
    QVERIFY(disconnected.wait(5000));
    QTRY_COMPARE(m_server->room().commandViewers(), 0);
}

void TestWSServer::unmaskedFrameClosesWithProtocolError()
{
    RawWebSocketClient honest, careless;
    QVERIFY(honest.open(QHostAddress("127.0.0.2"), m_port, "/cmdchannel"));
    QVERIFY(careless.open(QHostAddress("127.0.0.3"), m_port, "/cmdchannel"));
    QTRY_COMPARE(m_server->room().commandViewers(), 2);
    m_server->onVoteStart("Q", {"A", "B", "C", "D", "E"});
    const QByteArray vote = R"({"command":"vote_result","result":"2"})";
    careless.sendRaw(RawWebSocketClient::clientFrame(0x1, vote, false));
    honest.sendText(vote);
    QTRY_COMPARE(careless.closeCode, int(QWebSocketProtocol::CloseCodeProtocolError));
    QTRY_COMPARE(careless.socket().state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m_server->room().commandViewers(), 1);
    QCOMPARE(m_server->voteResults()[2], 1); // the honest viewer's vote only
}

void TestWSServer::viewerThatPingsButNeverReadsIsDropped()
{
    RawWebSocketClient pinger;
    pinger.smallReceiveBuffer();
    QVERIFY(pinger.open(QHostAddress("127.0.0.2"), m_port, "/cmdchannel"));
    pinger.stall();
    QTRY_COMPARE(m_server->room().commandViewers(), 1);
    const QByteArray ping = RawWebSocketClient::clientFrame(0x9, QByteArray(125, 'p'));
    QByteArray burst;
    for (int i = 0; i < 1000; ++i)
        burst += ping;
    // Far more pongs than the queue bound and the kernel's buffers together.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("does not read"));
    for (int i = 0; i < 400 && m_server->room().commandViewers() > 0; ++i) {
        pinger.socket().write(burst);
        pinger.socket().waitForBytesWritten(100);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(m_server->room().commandViewers(), 0);
}

void TestWSServer::commandViewersThatNeverReadShareOneBudget()
{
    // Each would hold up to its own 1 MiB bound: more than the process-wide one, together.
    const int viewers = 48;
    std::vector<std::unique_ptr<RawWebSocketClient>> stalled;
    for (int i = 0; i < viewers; ++i) {
        stalled.push_back(std::make_unique<RawWebSocketClient>());
        QVERIFY(stalled.back()->open(QHostAddress(QString("127.0.0.%1").arg(2 + i % 8)), m_port,
                                     "/cmdchannel"));
        stalled.back()->stall();
    }
    auto reader = openViewer(m_port, "/cmdchannel");
    QVERIFY(reader);
    int received = 0;
    connect(reader.get(), &QWebSocket::textMessageReceived, this, [&received] { ++received; });
    QTRY_COMPARE(m_server->room().commandViewers(), viewers + 1);

    const QString message = QString(R"({"command":"x","pad":"%1"})").arg(QString(12000, 'p'));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("over \\d+; dropping viewer"));
    qint64 most = 0;
    int sent = 0;
    while (m_server->room().commandViewers() > 1 && sent < 2000) {
        m_server->sendCommand(message);
        ++sent;
        most = std::max(most, ViewerChannel::queuedTextTotalBytes());
        QCoreApplication::processEvents();
    }
    QCOMPARE(m_server->room().commandViewers(), 1);
    const qint64 slack = viewers * (ViewerChannel::kBehindBytes + 2 * message.size());
    QVERIFY2(most <= ViewerChannel::kMaxQueuedTextTotalBytes + slack,
             qPrintable(QString::number(most)));
    QTRY_COMPARE(received, sent);
    stalled.clear();
    reader.reset();
    QTRY_COMPARE(m_server->room().commandViewers(), 0);
}

void TestWSServer::socketOnAnUnservedPathIsClosedSoon()
{
    auto idle = openViewer(m_port, "/elsewhere");
    QVERIFY(idle);
    QSignalSpy disconnected(idle.get(), &QWebSocket::disconnected);
    QVERIFY(disconnected.wait(WSServer::kUnservedPathGraceMs + 3000));
    QCOMPARE(idle->closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
}

void TestWSServer::messageFloodLeavesTheLogSmall()
{
    LogCapture log;
    RawWebSocketClient flooder;
    QVERIFY(flooder.open(QHostAddress("127.0.0.2"), m_port, "/cmdchannel"));
    QTRY_COMPARE(m_server->room().commandViewers(), 1);
    // Each longer than a line may quote, and so many that, each logged, they would be megabytes.
    // Not longer: what the flood costs is parsing, which a sanitizer makes slow.
    const QByteArray message = RawWebSocketClient::clientFrame(
        0x1, R"({"command":"x","pad":")" + QByteArray(2 * LogBudget::kMaxQuotedChars, 'x') + "\"}");
    QByteArray burst;
    for (int i = 0; i < 100; ++i)
        burst += message;
    for (int i = 0; i < 100; ++i) {
        flooder.socket().write(burst);
        flooder.socket().waitForBytesWritten(100);
        QCoreApplication::processEvents();
    }
    // The relay has read the whole flood once the message after it has come through.
    QSignalSpy commands(m_server.get(), &WSServer::viewerCommand);
    flooder.socket().write(RawWebSocketClient::clientFrame(0x1, R"({"command":"flood_end"})"));
    QTRY_VERIFY_WITH_TIMEOUT(!commands.isEmpty() &&
                                 commands.last().at(1).toJsonObject()["command"] == "flood_end",
                             30000);
    qint64 logged = 0;
    for (const QString &line : log.lines())
        logged += line.size();
    QVERIFY2(logged < 100 * 1024, qPrintable(QString::number(logged)));
    QVERIFY(log.contains("WS MESSAGE:"));
    flooder.socket().disconnectFromHost();
    QTRY_VERIFY(log.contains("left out of the log"));
}

void TestWSServer::oneAddressCannotLockOthersOut()
{
    // Connections that never start their handshake, from one address, up to the cap and beyond.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < ConnectionsPerAddress::kDefaultCap + 4; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QVERIFY(socket->bind(QHostAddress("127.0.0.7")));
        socket->connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket->waitForConnected(5000));
        idle.push_back(std::move(socket));
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refuses connections from 127.0.0.7"));
    const auto closed = [&idle] {
        return std::count_if(idle.begin(), idle.end(), [](const auto &socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_COMPARE(closed(), 4L);

    // Another viewer is served while the silent ones still hold their connections: it does not
    // wait for them to be given up.
    auto viewer = openViewer(m_port, "/cmdchannel");
    QVERIFY(viewer);
    QVERIFY(closed() < long(idle.size()));

    // The handshakes that never came are given up.
    QTRY_COMPARE_WITH_TIMEOUT(closed(), long(idle.size()),
                              ViewerAcceptor::kHandshakeDeadlineMs + 2000);
    QCOMPARE(viewer->state(), QAbstractSocket::ConnectedState);
}

void TestWSServer::connectBurstWaitsInTheListenQueue()
{
    // While the relay's thread is busy (here: the event loop does not run), connects beyond Qt's
    // default queue of 50 must wait for it, not have their SYNs dropped. 30 from each address
    // stay under the cap per address.
    constexpr int kAddresses = 10;
    constexpr int kPerAddress = 30;
    std::vector<pollfd> burst;
    for (int i = 0; i < kAddresses * kPerAddress; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000801 + i / kPerAddress); // 127.0.8.1, ...
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
        sockaddr_in relay{};
        relay.sin_family = AF_INET;
        relay.sin_port = htons(m_port);
        relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr *>(&relay), sizeof relay);
        burst.push_back({fd, POLLOUT, 0});
    }
    const auto established = [&burst] {
        poll(burst.data(), burst.size(), 0);
        return std::count_if(burst.begin(), burst.end(),
                             [](const pollfd &socket) { return socket.revents == POLLOUT; });
    };
    QElapsedTimer waited;
    waited.start();
    while (established() < long(burst.size()) && waited.elapsed() < 3000)
        poll(nullptr, 0, 20);
    const long connected = established();
    for (const pollfd &socket : burst)
        ::close(socket.fd);
    QCOMPARE(connected, long(burst.size()));
}

void TestWSServer::secondStartOnlyZeroesCounters()
{
    auto ingest = openIngest(m_server->ingestPort());
    QVERIFY(ingest);
    ingest->write(tsStream(0x100, 2));
    QTRY_COMPARE(m_server->receivedBytes, qint64(376));
    m_server->room().setSentBytes(99);

    m_server->start("127.0.0.1", 0);
    QCOMPARE(m_server->receivedBytes, qint64(0));
    QCOMPARE(m_server->statistics().sentBytes, qint64(0));
    QCOMPARE(m_server->serverPort(), m_port);
    QVERIFY(m_server->ingestServer.isListening());
}

void TestWSServer::finishedIngestConnectionIsReleased()
{
    auto ingest = openIngest(m_server->ingestPort());
    QVERIFY(ingest);
    QTRY_COMPARE(m_server->ingestServer.findChildren<QTcpSocket *>().size(), 1);
    ingest->disconnectFromHost();
    QTRY_COMPARE(m_server->ingestServer.findChildren<QTcpSocket *>().size(), 0);
}

void TestWSServer::lateViewerStartsAtTheLastFullPicture()
{
    using namespace TsPackets;
    auto early = openViewer(m_port, "/readvideo");
    QVERIFY(early);
    auto earlyReceived = collectBinary(early.get());
    QTRY_COMPARE(m_server->room().videoViewers(), 1);
    auto video = openIngest(m_server->ingestPort());
    auto audio = openIngest(m_server->ingestPort());
    QVERIFY(video && audio);

    const QByteArray beforeAnyHeader = videoFrame(0x100, false, 2, 'p');
    const QByteArray olderGroup =
        videoFrame(0x100, true, 4, 'i') + videoFrame(0x100, false, 2, 'q');
    const QByteArray lastGroup = videoFrame(0x100, true, 5, 'j') + videoFrame(0x100, false, 3, 'r');
    const QByteArray sound =
        pesStart(0x101, kAudioStream, QByteArray("\xff\xfd", 2)) + continuation(0x101, 'a');
    QByteArray sent;
    for (const QByteArray &piece : {beforeAnyHeader, olderGroup, lastGroup}) {
        video->write(piece);
        video->flush();
        sent += piece;
        QTRY_COMPARE(earlyReceived->bytes.size(), sent.size());
    }
    audio->write(sound);
    audio->flush();
    sent += sound;
    QTRY_COMPARE(earlyReceived->bytes.size(), sent.size());
    const qint64 sentBeforeJoin = m_server->statistics().sentBytes;

    CollectingViewer late;
    QVERIFY(late.open(m_port, "/room/readvideo"));
    ViewerBytes *lateReceived = late.received.get();
    // The group from the last full picture on arrives at once, in one message, and nothing of
    // the audio connection.
    QTRY_COMPARE(lateReceived->bytes, lastGroup);
    QCOMPARE(lateReceived->messageSizes, QList<int>{lastGroup.size()});
    QCOMPARE(m_server->statistics().sentBytes, sentBeforeJoin + lastGroup.size());

    // Then both get the live packets; the early viewer sees exactly the stream as sent.
    const QByteArray live = videoFrame(0x100, false, 1, 's') + sound;
    video->write(live.left(2 * kSize));
    audio->write(sound);
    video->flush();
    audio->flush();
    QTRY_COMPARE(lateReceived->bytes, lastGroup + live);
    QTRY_COMPARE(earlyReceived->bytes, sent + live);
    QCOMPARE(m_server->receivedBytes, qint64(sent.size() + live.size()));
    QCOMPARE(m_server->statistics().sentBytes, sentBeforeJoin + lastGroup.size() + 2 * live.size());
}

void TestWSServer::stalledViewerIsDroppedWithoutStream()
{
    using namespace TsPackets;
    auto video = openIngest(m_server->ingestPort());
    QVERIFY(video);
    // A group far larger than the kernel's buffers, and then no stream at all: only a timer can
    // find that the joiner takes none of its head start.
    const QByteArray group = videoFrame(0x100, true, 80000, 'g');
    video->write(group);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->receivedBytes, qint64(group.size()), 10000);
    RawWebSocketClient stalled;
    stalled.stallFromStart();
    QVERIFY(stalled.open(QHostAddress("127.0.0.5"), m_port, "/readvideo"));
    QTRY_COMPARE(m_server->room().videoViewers(), 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("closing slow viewer"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->room().videoViewers(), 0,
                              2 * (VideoFanOut::kHeadStartGraceMs + VideoFanOut::kMaxLagMs));
}

void TestWSServer::finishedVideoConnectionTakesItsCacheAlong()
{
    using namespace TsPackets;
    auto video = openIngest(m_server->ingestPort());
    QVERIFY(video);
    video->write(videoFrame(0x100, true, 3));
    QTRY_COMPARE(m_server->receivedBytes, qint64(4 * kSize));
    CollectingViewer first;
    QVERIFY(first.open(m_port, "/readvideo"));
    QTRY_COMPARE(first.received->bytes.size(), 4 * kSize);

    video->disconnectFromHost();
    QTRY_COMPARE(m_server->ingestServer.findChildren<QTcpSocket *>().size(), 0);
    CollectingViewer second;
    QVERIFY(second.open(m_port, "/readvideo"));
    QTRY_COMPARE(m_server->room().videoViewers(), 2);
    // A cache left behind would reach the viewer before the next connection's stream.
    auto next = openIngest(m_server->ingestPort());
    QVERIFY(next);
    const QByteArray picture = videoFrame(0x100, true, 1, 'n');
    next->write(picture);
    QTRY_COMPARE(second.received->bytes, picture);
}

QTEST_GUILESS_MAIN(TestWSServer)
#include "tst_wsserver.moc"
