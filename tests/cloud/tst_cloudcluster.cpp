#include "cloud/CloudRoom.h"
#include "relay/CLOUDProxy.h"
#include "relay/CommandMessages.h"
#include "relay/JoinCache.h"
#include "support/CloudService.h"
#include "support/Intruder.h"
#include "support/NatsCluster.h"
#include "support/QuestionStoreDir.h"
#include "support/StudioKey.h"
#include "support/TcpForwarder.h"
#include "support/TsPackets.h"
#include "web/DBStorage.h"

#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {

const QString kRoom = StudioKey::room("00000000000000c3");
constexpr int kFrameMs = 40;
constexpr int kFramesPerPicture = 24;

// The studio's encoders as far as the relay can tell: a video frame every 40 ms, a full
// picture every second, every packet numbered so that a viewer's bytes can be found again.
class StreamSource : public QObject
{
public:
    void start(quint16 ingestPort)
    {
        m_writer.connectToHost(QHostAddress::LocalHost, ingestPort);
        connect(&m_timer, &QTimer::timeout, this, &StreamSource::writeFrame);
        m_timer.start(kFrameMs);
    }
    const QByteArray &sent() const { return m_sent; }
    int frames() const { return m_frames; }

    // Whole packets, starting on a full picture, that are one piece of what was sent.
    bool isCleanPiece(const QByteArray &bytes) const
    {
        if (bytes.isEmpty() || bytes.size() % TsPackets::kSize != 0 ||
            !JoinCache::opensSequence(bytes.constData()))
            return false;
        const int at = m_sent.indexOf(bytes.left(2 * TsPackets::kSize));
        return at >= 0 && m_sent.mid(at, bytes.size()) == bytes;
    }

private:
    void writeFrame()
    {
        QByteArray frame = TsPackets::videoFrame(0x100, m_frames++ % kFramesPerPicture == 0, 3);
        for (int offset = TsPackets::kSize; offset < frame.size(); offset += TsPackets::kSize)
            qToBigEndian(quint32(++m_packets), frame.data() + offset + 4);
        m_sent += frame;
        m_writer.write(frame);
    }

    QTcpSocket m_writer;
    QTimer m_timer;
    QByteArray m_sent;
    int m_frames = 0;
    quint32 m_packets = 0;
};

// A viewer's socket that comes back by itself to the address it was given, as the page's does.
// Each connection's stream is kept apart.
struct Viewer
{
    QWebSocket socket;
    QUrl url;
    QList<QByteArray> streams; // one per connection
    QStringList texts;
    int connections = 0;

    Viewer(quint16 port, const QString &channel)
        : url(QString("ws://127.0.0.1:%1/websocket/right/%2/%3").arg(port).arg(kRoom, channel))
    {
        QObject::connect(&socket, &QWebSocket::connected, [this] {
            ++connections;
            streams.append(QByteArray());
        });
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray &m) { streams.last() += m; });
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString &m) { texts.append(m); });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] {
            QTimer::singleShot(250, &socket, [this] { socket.open(url); });
        });
        socket.open(url);
    }
    bool live() const { return socket.state() == QAbstractSocket::ConnectedState; }
};

QStringList finishesOf(const QList<Viewer *> &viewers)
{
    QStringList finishes;
    for (const Viewer *viewer : viewers)
        for (const QString &text : viewer->texts) {
            const QJsonObject message = CommandMessages::parse(text);
            if (CommandMessages::commandOf(message) == "random_game_finish")
                finishes << (message.contains("win_code") ? "won" : "lost");
        }
    return finishes;
}

// A node of the cluster whose NATS connection passes through a forwarder, so that the test can
// cut it or speak as its server, with the node's log to read.
struct ForwardedNode
{
    static constexpr const char *kConnected = "NATS connected: rooms shared with the other nodes\n";

    TcpForwarder toNats;
    QTemporaryDir logs;
    QFile log{logs.filePath("node.log")};
    std::unique_ptr<CloudService> node;
    QByteArray logText;

    explicit ForwardedNode(quint16 natsPort) : toNats(natsPort) {}
    bool start()
    {
        if (!toNats.open())
            return false;
        node = std::make_unique<CloudService>(
            0, QStringList{"--nats", QString("nats://127.0.0.1:%1").arg(toNats.port())},
            log.fileName());
        return log.open(QIODevice::ReadOnly);
    }
    const QByteArray &logSoFar() { return logText += log.readAll(); }
    bool connected() { return logSoFar().endsWith(kConnected); }
};

} // namespace

// Three relays sharing rooms
// Three relays sharing rooms over three clustered NATS servers, the presenter on the first
// node, viewers on all of them; the cases run in order on one cluster.
class TestCloudCluster : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void viewersOnOtherNodesWatchFromAFullPicture();
    void audienceOfAllNodesCounts();
    void oneWinnerAmongAllNodes();
    void questionsAndQuizAnswersReachTheStudio();
    void questionListAndUpvotesGoRound();
    void overlongRoomNameLeavesNatsConnected();
    void intruderOnAnotherNodeReachesNobody();
    void nodeClosedForGoodByNatsComesBack();
    void nodeCutOffFromNatsKeepsItsViewers();
    void losingANatsServerLosesNothing();
    void viewersOfADeadNodeMoveOn();
    void cleanupTestCase();

private:
    bool streamsCleanly(Viewer *viewer) const
    {
        const QByteArray &stream = viewer->streams.last();
        const bool clean = m_source.isCleanPiece(stream);
        if (!clean)
            qWarning() << "viewer" << viewer->url.toString() << "received" << stream.size()
                       << "bytes, starting on a full picture:"
                       << (!stream.isEmpty() && JoinCache::opensSequence(stream.constData()))
                       << "found at" << m_source.sent().indexOf(stream.left(2 * 188));
        return clean;
    }
    // Every viewer has had frames sent after this moment.
    void waitForMoreStream(const QList<Viewer *> &viewers)
    {
        QList<int> sizes;
        for (const Viewer *viewer : viewers)
            sizes << viewer->streams.last().size();
        for (int i = 0; i < viewers.size(); ++i)
            QTRY_VERIFY(viewers.at(i)->streams.last().size() > sizes.at(i) + 10 * 188);
    }

    std::unique_ptr<QuestionStoreDir> m_storeDir;
    std::unique_ptr<DBStorage> m_store;
    std::unique_ptr<NatsCluster> m_nats;
    std::vector<std::unique_ptr<CloudService>> m_nodes;
    std::unique_ptr<CLOUDProxy> m_proxy;
    StreamSource m_source;
    std::unique_ptr<TcpForwarder> m_balancer;
    std::vector<std::unique_ptr<Viewer>> m_viewers;
    Viewer *m_videoA = nullptr;
    Viewer *m_videoB = nullptr;
    Viewer *m_videoC = nullptr;
    Viewer *m_commandsA = nullptr;
    Viewer *m_commandsB = nullptr;
    Viewer *m_commandsC = nullptr;

    // The text of the studio's answer to a question asked on `port`.
    QByteArray ask(quint16 port, const QByteArray &room)
    {
        const QByteArray question = R"({"name":"Dan","msg":"Still there?"})";
        QTcpSocket http;
        http.connectToHost(QHostAddress::LocalHost, port);
        if (!http.waitForConnected(5000))
            return QByteArray("no connection");
        http.write("GET /feedback.php?room=" + room + "&raw=" + question.toPercentEncoding() +
                   " HTTP/1.0\r\n\r\n");
        // The event loop runs meanwhile: the studio answering the relay is in this process.
        QByteArray response;
        QObject::connect(&http, &QTcpSocket::readyRead, [&] { response += http.readAll(); });
        QSignalSpy closed(&http, &QTcpSocket::disconnected);
        if (http.state() == QAbstractSocket::ConnectedState)
            closed.wait(10000);
        return response + http.readAll();
    }

    Viewer *viewerAt(quint16 port, const QString &channel)
    {
        m_viewers.push_back(std::make_unique<Viewer>(port, channel));
        return m_viewers.back().get();
    }
    Viewer *viewer(int node, const QString &channel)
    {
        return viewerAt(m_nodes.at(size_t(node))->port(), channel);
    }
};

void TestCloudCluster::initTestCase()
{
    m_storeDir = std::make_unique<QuestionStoreDir>();
    m_store = std::make_unique<DBStorage>();
    m_nats = std::make_unique<NatsCluster>(3);
    for (int i = 0; i < 3; ++i)
        m_nodes.push_back(
            std::make_unique<CloudService>(0, QStringList{"--nats", m_nats->urls(i)}));
    m_proxy = std::make_unique<StudioProxy>(m_store.get());
    QVERIFY(m_proxy->connectToCloud(m_nodes.at(0)->server(), kRoom));
    m_source.start(m_proxy->ingestPort());
    // A full picture has passed before anyone watches: joiners start from a copy of it.
    QTRY_VERIFY(m_source.frames() > kFramesPerPicture + 5);
}

void TestCloudCluster::viewersOnOtherNodesWatchFromAFullPicture()
{
    m_videoA = viewer(0, "readvideo");
    m_videoB = viewer(1, "readvideo");
    m_videoC = viewer(2, "readvideo");
    // The second viewer of a node starts from that node's own copy.
    Viewer *secondOnC = viewer(2, "readvideo");
    const QList<Viewer *> all{m_videoA, m_videoB, m_videoC, secondOnC};
    for (Viewer *v : all)
        QTRY_VERIFY(v->live());
    waitForMoreStream(all);
    // Joined between full pictures, each starts on one all the same: the copy of the last.
    for (Viewer *v : all)
        QVERIFY(streamsCleanly(v));
}

void TestCloudCluster::audienceOfAllNodesCounts()
{
    m_commandsA = viewer(0, "cmdchannel");
    m_commandsB = viewer(1, "cmdchannel");
    m_commandsC = viewer(2, "cmdchannel");
    for (Viewer *v : {m_commandsA, m_commandsB, m_commandsC})
        QTRY_VERIFY(v->live());
    // Node A alone has one video viewer: four means the others' counts are in.
    QTRY_COMPARE_WITH_TIMEOUT(m_proxy->statistics().viewers, 4, 8000);
    QTest::qWait(1000);

    // The tally waits for the counts of all nodes, so that the vote is sent to all three.
    m_proxy->onVoteStart("Which?", {"Yes", "No", "", "", ""});
    for (Viewer *v : {m_commandsA, m_commandsB, m_commandsC})
        QTRY_COMPARE(v->texts.size(), 1);
    // All three come from 127.0.0.1: one viewer address, one vote, the last one counts.
    m_commandsB->socket.sendTextMessage(R"({"command":"vote_result","result":"1"})");
    QTRY_COMPARE_WITH_TIMEOUT(m_proxy->voteResults().at(1), 1, 8000);
    m_commandsC->socket.sendTextMessage(R"({"command":"vote_result","result":"2"})");
    QTRY_VERIFY_WITH_TIMEOUT(m_proxy->voteResults().at(2) == 1, 8000);
    QCOMPARE(m_proxy->voteResults().at(0), 3);
    QCOMPARE(m_proxy->voteResults().at(1), 0);
}

void TestCloudCluster::oneWinnerAmongAllNodes()
{
    const QList<Viewer *> commands{m_commandsA, m_commandsB, m_commandsC};
    for (int round = 0; round < 3; ++round) {
        m_proxy->onRandomGameFinish("lost", "won", "1234");
        QTRY_COMPARE(finishesOf(commands).size(), 3 * (round + 1));
    }
    // A tick sent after the finishes: once it is everywhere, so is any finish sent twice.
    m_proxy->onRandomGameTick("marker", 0);
    for (Viewer *v : commands)
        QTRY_VERIFY(v->texts.last().contains("marker"));
    const QStringList finishes = finishesOf(commands);
    QCOMPARE(finishes.size(), 9);
    QCOMPARE(finishes.count("won"), 3);
}

void TestCloudCluster::questionsAndQuizAnswersReachTheStudio()
{
    const QByteArray question = R"({"name":"Cleo","msg":"From node C: 100% & more?"})";
    QTcpSocket http;
    http.connectToHost(QHostAddress::LocalHost, m_nodes.at(2)->port());
    QVERIFY(http.waitForConnected(5000));
    http.write("GET /feedback.php?room=" + kRoom.toUtf8() + "&raw=" + question.toPercentEncoding() +
               " HTTP/1.0\r\n\r\n");
    QByteArray response;
    connect(&http, &QTcpSocket::readyRead, [&] { response += http.readAll(); });
    QTRY_VERIFY(response.endsWith("\r\n\r\nOK"));
    QTRY_COMPARE(m_store->selectQuestions().size(), 1);
    QCOMPARE(m_store->selectQuestions().at(0).question, QString("From node C: 100% & more?"));

    // A room nobody presents: no node hands the question on.
    QTcpSocket nowhere;
    nowhere.connectToHost(QHostAddress::LocalHost, m_nodes.at(1)->port());
    QVERIFY(nowhere.waitForConnected(5000));
    nowhere.write("GET /feedback.php?room=" + StudioKey::room("00000000000000d4").toUtf8() +
                  "&raw=" + question.toPercentEncoding() + " HTTP/1.0\r\n\r\n");
    QByteArray refusal;
    connect(&nowhere, &QTcpSocket::readyRead, [&] { refusal += nowhere.readAll(); });
    QTRY_VERIFY(refusal.startsWith("HTTP/1.0 503"));

    QStringList keys;
    // Disconnected with the test's locals.
    QObject scope;
    connect(m_proxy.get(), &CLOUDProxy::viewerCommand, &scope,
            [&](const QString &key, const QJsonObject &) { keys << key; });
    const QString answer = R"({"command":"quiz_answer","number":1,"option":%1,"nickname":"C"})";
    m_commandsC->socket.sendTextMessage(answer.arg(2));
    QTRY_COMPARE(keys.size(), 1);
    // The same viewer address on another node is the same player, under the same key.
    m_commandsB->socket.sendTextMessage(answer.arg(3));
    QTRY_COMPARE(keys.size(), 2);
    QCOMPARE(keys.at(1), keys.at(0));
    QVERIFY(!keys.at(0).contains("127.0.0.1"));
}

void TestCloudCluster::questionListAndUpvotesGoRound()
{
    // The studio's list reaches the command viewers of every node.
    const QString list = R"({"command":"questions","highlight":0,"total":0,"questions":[]})";
    m_proxy->sendCommand(list);
    for (const Viewer *viewer : {m_commandsA, m_commandsB, m_commandsC})
        QTRY_VERIFY(viewer->texts.contains(list));

    QList<QJsonObject> upvotes;
    QStringList keys;
    QObject scope;
    connect(m_proxy.get(), &CLOUDProxy::viewerCommand, &scope,
            [&](const QString &key, const QJsonObject &message) {
                if (CommandMessages::commandOf(message) == "question_upvote") {
                    keys << key;
                    upvotes << message;
                }
            });
    m_commandsC->socket.sendTextMessage(
        R"({"command":"question_upvote","id":7,"voter":"page-key-1","up":false,"extra":"x"})");
    QTRY_COMPARE(upvotes.size(), 1);
    QCOMPARE(upvotes.at(0).value("id").toInt(), 7);
    QCOMPARE(upvotes.at(0).value("voter").toString(), QString("page-key-1"));
    QCOMPARE(upvotes.at(0).value("up").toBool(true), false);
    // Only what the studio reads goes on, and the viewer's address never does.
    QVERIFY(!upvotes.at(0).contains("extra"));
    QVERIFY(!keys.at(0).contains("127.0.0.1"));
    m_commandsB->socket.sendTextMessage(
        R"({"command":"question_upvote","id":7,"voter":"page-key-1"})");
    QTRY_COMPARE(keys.size(), 2);
    QCOMPARE(keys.at(1), keys.at(0));
}

void TestCloudCluster::overlongRoomNameLeavesNatsConnected()
{
    const quint16 port = m_nodes.at(1)->port();
    // A name that would make a subject longer than NATS takes, and one that is no room id.
    QVERIFY(ask(port, QByteArray(5000, 'a')).startsWith("HTTP/1.0 400"));
    QVERIFY(ask(port, "unknown").startsWith("HTTP/1.0 400"));
    // Node B still reaches the studio's node over NATS.
    const int stored = m_store->selectQuestions().size();
    const QByteArray answer = ask(port, kRoom.toUtf8());
    QVERIFY2(answer.endsWith("\r\n\r\nOK"), answer.constData());
    QTRY_COMPARE(m_store->selectQuestions().size(), stored + 1);
}

void TestCloudCluster::intruderOnAnotherNodeReachesNobody()
{
    const QList<Viewer *> commands{m_commandsA, m_commandsB, m_commandsC};
    QList<int> texts;
    for (const Viewer *v : commands)
        texts << v->texts.size();
    for (int node = 1; node < 3; ++node) {
        Intruder intruder(m_nodes.at(size_t(node))->server(), kRoom);
        QTRY_VERIFY(intruder.closed);
        QVERIFY(!intruder.admitted);
        QCOMPARE(intruder.closeReason, QString("this room belongs to another presenter"));
    }
    // The studio's stream goes on everywhere, and nothing of the intruders' came with it.
    waitForMoreStream({m_videoA, m_videoB, m_videoC});
    for (const Viewer *v : {m_videoA, m_videoB, m_videoC})
        QVERIFY(!Intruder::within(v->streams.last()));
    for (int i = 0; i < commands.size(); ++i)
        for (const QString &text : commands.at(i)->texts.mid(texts.at(i)))
            QVERIFY(!text.contains("forged"));
}

void TestCloudCluster::nodeClosedForGoodByNatsComesBack()
{
    ForwardedNode node(m_nats->port(0));
    QVERIFY(node.start());
    QTRY_VERIFY_WITH_TIMEOUT(node.connected(), 10000);
    Viewer *commands = viewerAt(node.node->port(), "cmdchannel");
    QTRY_VERIFY(commands->live());
    const QByteArray closedForGood = "closed this node's connection for good";
    const int closedBefore = node.logSoFar().count(closedForGood);

    // What a server sends before it closes a connection whose control line was too long; the
    // client gives the connection up for good. Only pongs come this way otherwise: the error
    // lands between two messages.
    node.toNats.sendToClients("-ERR 'Maximum Control Line Exceeded'\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(node.logSoFar().count(closedForGood) > closedBefore, 10000);
    // Commands are not kept for a node that was away: the vote is started once it is back.
    QTRY_VERIFY_WITH_TIMEOUT(node.connected(), 10000);

    // The new connection hears the room's commands and carries its questions again. Its
    // subscriptions reach the server a moment after the connection is announced, and a command
    // published before that is lost for this node, so the vote is started until one arrives.
    bool heard = false;
    for (int tries = 0; tries < 10 && !heard; ++tries) {
        m_proxy->onVoteStart("Back?", {"Yes", "No", "", "", ""});
        heard = QTest::qWaitFor([&] { return !commands->texts.isEmpty(); }, 1000);
    }
    QVERIFY(heard);
    const int stored = m_store->selectQuestions().size();
    QByteArray answer;
    for (int tries = 0; tries < 20 && !answer.endsWith("\r\n\r\nOK"); ++tries)
        answer = ask(node.node->port(), kRoom.toUtf8());
    QVERIFY2(answer.endsWith("\r\n\r\nOK"), answer.constData());
    QTRY_COMPARE(m_store->selectQuestions().size(), stored + 1);
    m_viewers.pop_back();
}

void TestCloudCluster::nodeCutOffFromNatsKeepsItsViewers()
{
    ForwardedNode node(m_nats->port(0));
    QVERIFY(node.start());
    QTRY_VERIFY_WITH_TIMEOUT(node.connected(), 10000);
    Viewer *video = viewerAt(node.node->port(), "readvideo");
    QTRY_VERIFY(video->live());
    waitForMoreStream({video});

    // Off the cluster for longer than the rounds in which the room asks whether its presenter
    // is still live: no answer can come, and none is taken for "gone".
    node.toNats.cut();
    const QByteArray gone = "closed: its presenter has gone";
    QTRY_VERIFY_WITH_TIMEOUT(node.logSoFar().contains("keeps its viewers") ||
                                 node.logSoFar().contains(gone),
                             3 * CloudRoom::kPresenterGraceMs);
    QVERIFY(!node.logSoFar().contains(gone));
    QVERIFY(node.toNats.open(node.toNats.port()));
    QTRY_VERIFY_WITH_TIMEOUT(node.connected(), 10000);
    waitForMoreStream({video});
    QCOMPARE(video->connections, 1);
    QVERIFY(!node.logSoFar().contains(gone));
    m_viewers.pop_back();
}

void TestCloudCluster::losingANatsServerLosesNothing()
{
    const QList<Viewer *> video{m_videoA, m_videoB, m_videoC};
    QList<int> connections;
    for (Viewer *v : video)
        connections << v->connections;
    // Node B's server: what was on its way to B is lost with it, and asked again. Three seconds
    // of frames give node B the time to move to another server and ask for what it missed.
    m_nats->kill(1);
    const int framesAtKill = m_source.frames();
    QTRY_VERIFY_WITH_TIMEOUT(m_source.frames() > framesAtKill + 3 * kFramesPerPicture, 30000);
    waitForMoreStream(video);
    // Nothing lost and nobody reconnected: each viewer's one stream is one piece of what was sent.
    for (int i = 0; i < video.size(); ++i) {
        QCOMPARE(video.at(i)->connections, connections.at(i));
        QVERIFY(streamsCleanly(video.at(i)));
    }
}

void TestCloudCluster::viewersOfADeadNodeMoveOn()
{
    m_balancer = std::make_unique<TcpForwarder>(
        QList<quint16>{m_nodes.at(1)->port(), m_nodes.at(2)->port()});
    QVERIFY(m_balancer->open());
    // The first reaches node B, the second node C.
    Viewer *first = viewerAt(m_balancer->port(), "readvideo");
    QTRY_VERIFY(first->live());
    Viewer *second = viewerAt(m_balancer->port(), "readvideo");
    QTRY_VERIFY(second->live());
    const QList<Viewer *> balanced{first, second};
    waitForMoreStream(balanced);
    const QList<Viewer *> others{m_videoA, m_videoC};

    m_nodes.at(1)->kill();
    QTRY_COMPARE_WITH_TIMEOUT(first->connections, 2, 10000);
    for (Viewer *v : balanced)
        QTRY_VERIFY(v->live());
    waitForMoreStream(balanced + others);
    QCOMPARE(first->connections, 2);
    QCOMPARE(second->connections, 1);
    for (Viewer *v : balanced)
        QVERIFY(streamsCleanly(v));
    // The other nodes' viewers go on undisturbed, and lose nothing.
    for (Viewer *v : others) {
        QCOMPARE(v->connections, 1);
        QVERIFY(streamsCleanly(v));
    }
}

void TestCloudCluster::cleanupTestCase()
{
    // Sockets first, while the services they talk to still run.
    m_viewers.clear();
    m_proxy.reset();
    m_nodes.clear();
}

QTEST_GUILESS_MAIN(TestCloudCluster)
#include "tst_cloudcluster.moc"
