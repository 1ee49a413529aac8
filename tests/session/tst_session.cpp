// The streaming session without a window: the port rule, the listen checks and their texts,
// the order of Start and Stop, and what is saved. Servers listen on 127.0.0.1 only.
#include "capture/CaptureStreamer.h"
#include "capture/FakeMFFactory.h"
#include "quiz/QuizBoard.h"
#include "quiz/QuizSession.h"
#include "relay/CLOUDProxy.h"
#include "relay/WSServer.h"
#include "session/CloudServerList.h"
#include "session/StudioSession.h"
#include "session/ViewerAddress.h"
#include "support/CloudService.h"
#include "support/FreePortPair.h"
#include "support/QuestionStoreDir.h"
#include "web/APIWebServer.h"
#include "web/WebServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(CaptureSources::Choice)

namespace {} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void relayPort_data();
    void relayPort();
    void savedChoicesComeBack();
    void requestTakesThePresetsAndThePlace();
    void sessionOwnsTheQuizItShows();
    void lastPortIsRefused();
    void noNetworkAddressIsRefused();
    void startAndStopOnLoopback();
    void busyRelayPortIsReportedAndNothingListens();
    void screenSourcesSetTheirArea_data();
    void screenSourcesSetTheirArea();
    void cloudSessionStreamsToTheServerAndReadsItsFigures();
    void refusedCloudServerStartsNothing();

private:
    SessionRequest request(int port) const;
    bool nothingListens() const;

    std::unique_ptr<QuestionStoreDir> m_storeDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::shared_ptr<FakeMFFactory> m_factory;
    std::unique_ptr<StudioSession> m_session;
};

void TestSession::init()
{
    m_storeDir = std::make_unique<QuestionStoreDir>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("s.ini"), QSettings::IniFormat);
    m_factory = std::make_shared<FakeMFFactory>();
    m_factory->devices[eMFDT_Video] = QStringList{"Cam A"};
    // Ingest port 0: the relay takes whatever is free, and the writers follow it.
    m_session = std::make_unique<StudioSession>(m_settings.get(), m_factory, SessionPorts{0, 0});
}

void TestSession::cleanup()
{
    m_session.reset();
    m_settings.reset();
    m_dir.reset();
    m_storeDir.reset();
}

SessionRequest TestSession::request(int port) const
{
    SessionRequest request;
    request.address = "127.0.0.1";
    request.port = port;
    request.maxAudioLag = 1.5;
    request.sources = {"Cam A", "NO_AUDIO", -1};
    request.frameSize = QSize(640, 360);
    request.bitrateKbps = 1000;
    return request;
}

bool TestSession::nothingListens() const
{
    return m_session->webServer()->serverPort() == 0 && !m_session->relay()->isListening() &&
           !m_session->relay()->ingestServer.isListening() && !m_session->streamer()->isStreaming();
}

void TestSession::relayPort_data()
{
    QTest::addColumn<int>("httpPort");
    QTest::addColumn<int>("relay"); // 0: none
    QTest::newRow("default") << 8080 << 8081;
    QTest::newRow("next to last") << 65534 << 65535;
    QTest::newRow("last port has no successor") << 65535 << 0;
    QTest::newRow("zero") << 0 << 0;
}

void TestSession::relayPort()
{
    QFETCH(int, httpPort);
    QFETCH(int, relay);
    QCOMPARE(int(StudioSession::relayPort(httpPort).value_or(0)), relay);
}

void TestSession::savedChoicesComeBack()
{
    QCOMPARE(m_session->savedChoices().frameIndex, 1);
    QCOMPARE(m_session->savedChoices().port, 8080);
    SessionChoices chosen;
    chosen.videoIndex = 3;
    chosen.videoCodec = VideoCodec::H264;
    chosen.audioLag = 0.4;
    chosen.ip = "10.1.2.3";
    chosen.port = 9090;
    chosen.cloudServer = "relay.example:443";
    chosen.useCloud = true;
    chosen.save(*m_settings);
    const SessionChoices back = m_session->savedChoices();
    QCOMPARE(back.videoIndex, 3);
    QCOMPARE(back.videoCodec, VideoCodec::H264);
    QCOMPARE(back.audioLag, 0.4);
    QCOMPARE(back.ip, QString("10.1.2.3"));
    QCOMPARE(back.port, 9090);
    QCOMPARE(back.cloudServer, QString("relay.example:443"));
    QVERIFY(back.useCloud);
}

void TestSession::requestTakesThePresetsAndThePlace()
{
    m_session->setLocalAddress("10.0.0.5", 9000);
    m_session->setCloudServer(true, "relay.example:443");
    SessionChoices chosen;
    chosen.frameIndex = 3;
    chosen.bitrateIndex = 2;
    chosen.videoCodec = VideoCodec::H264;
    chosen.audioLag = 0.6;
    chosen.record = true;
    const SessionRequest request = m_session->requestFor(chosen, {"Cam A", "NO_AUDIO", -1});
    QCOMPARE(request.frameSize, QSize(1920, 1080));
    QCOMPARE(request.bitrateKbps, 1000);
    QCOMPARE(request.videoCodec, VideoCodec::H264);
    QCOMPARE(request.maxAudioLag, 0.6);
    QVERIFY(request.record);
    QCOMPARE(request.sources.video, QString("Cam A"));
    QCOMPARE(request.address, QString("10.0.0.5"));
    QCOMPARE(request.port, 9000);
    QVERIFY(request.cloudMode);
    QCOMPARE(request.cloudServer, QString("relay.example:443"));
}

void TestSession::sessionOwnsTheQuizItShows()
{
    const auto shown = [this] {
        return QJsonDocument::fromJson(m_session->quizBoard()->json()).object();
    };
    QCOMPARE(shown()["quiz"].toBool(), false);
    const QJsonArray questions{QJsonObject{{"title", "2 + 2?"}, {"options", QJsonArray{"4", "5"}}}};
    QPointer<QuizSession> first = m_session->playQuiz(QuizInfo{"a", "First", questions}, 20);
    first->advance();
    QCOMPARE(shown()["title"].toString(), QString("First"));
    QCOMPARE(shown()["question"].toString(), QString("2 + 2?"));

    // The next quiz takes the place of the first, which ends.
    m_session->playQuiz(QuizInfo{"b", "Second", questions}, 20);
    QVERIFY(!first);
    QCOMPARE(shown()["title"].toString(), QString("Second"));
}

void TestSession::lastPortIsRefused()
{
    const auto error = m_session->start(request(65535), SessionChoices{});
    QVERIFY(error);
    QCOMPARE(error->title, QString("Start error"));
    QVERIFY2(error->text.contains("65535"), qPrintable(error->text));
    QVERIFY(!m_session->isRunning());
    QVERIFY(nothingListens());
    QVERIFY(m_settings->allKeys().isEmpty());
}

void TestSession::noNetworkAddressIsRefused()
{
    SessionRequest noNetwork = request(freePortPair());
    noNetwork.address = ViewerAddress::kNoNetwork;
    const auto error = m_session->start(noNetwork, SessionChoices{});
    QVERIFY(error);
    QVERIFY2(error->text.contains("no network address"), qPrintable(error->text));
    QVERIFY(nothingListens());
    QVERIFY(m_settings->allKeys().isEmpty());
}

void TestSession::startAndStopOnLoopback()
{
    const int port = freePortPair();
    QVERIFY(port);
    SessionChoices choices;
    choices.port = port;
    choices.ip = "127.0.0.1";
    choices.videoIndex = 1;
    QVERIFY(!m_session->start(request(port), choices));
    QVERIFY(m_session->isRunning());
    QCOMPARE(int(m_session->webServer()->serverPort()), port);
    QCOMPARE(int(m_session->relay()->serverPort()), port + 1);
    const quint16 ingest = m_session->relay()->ingestPort();
    QVERIFY(ingest != 0);
    QTRY_VERIFY(m_factory->writers.size() == 2);
    for (const auto &writer : m_factory->writers)
        QCOMPARE(writer->target(), QString("tcp://127.0.0.1:%1").arg(ingest));
    QVERIFY(m_session->streamer()->isStreaming());
    QCOMPARE(m_settings->value("PORT").toInt(), port);
    QCOMPARE(m_settings->value("VIDEO_IND").toInt(), 1);
    QCOMPARE(m_settings->value("VIDEO_CODEC").toString(), QString("mpeg1"));

    m_session->stop();
    QVERIFY(!m_session->isRunning());
    QVERIFY(nothingListens());
}

void TestSession::busyRelayPortIsReportedAndNothingListens()
{
    const int port = freePortPair();
    QVERIFY(port);
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost, quint16(port + 1)));
    const auto error = m_session->start(request(port), SessionChoices{});
    QVERIFY(error);
    QCOMPARE(error->title, QString("Start error"));
    QVERIFY2(error->text.contains(QString::number(port + 1)), qPrintable(error->text));
    QVERIFY(nothingListens());
    QVERIFY(m_settings->allKeys().isEmpty());
    QVERIFY(m_factory->writers.isEmpty());
}

void TestSession::screenSourcesSetTheirArea_data()
{
    QTest::addColumn<CaptureSources::Choice>("sources");
    QTest::addColumn<QString>("screenIndex");
    QTest::addColumn<QString>("area");
    QTest::addColumn<QString>("frameSize");
    const QString screen = CaptureSources::kScreenDevice;
    QTest::newRow("area chosen with the frame")
        << CaptureSources::Choice{screen, "NO_AUDIO", 1, QRect(105, 205, 520, 520), true} << "1"
        << "105,205,624,724"
        << "area";
    QTest::newRow("whole desktop")
        << CaptureSources::Choice{screen, "NO_AUDIO", 0, QRect(), false} << "0"
        << ""
        << "screen";
}

void TestSession::screenSourcesSetTheirArea()
{
    QFETCH(CaptureSources::Choice, sources);
    QFETCH(QString, screenIndex);
    QFETCH(QString, area);
    QFETCH(QString, frameSize);
    const int port = freePortPair();
    QVERIFY(port);
    SessionRequest req = request(port);
    req.sources = sources;
    QVERIFY(!m_session->start(req, SessionChoices{}));
    std::shared_ptr<FakeMFDevice> device;
    for (const auto &created : m_factory->created)
        if (!created->prop("capture.frame_size").isEmpty())
            device = created;
    QVERIFY(device);
    QCOMPARE(device->prop("capture.screen_index"), screenIndex);
    QCOMPARE(device->prop("capture.area"), area);
    QCOMPARE(device->prop("capture.frame_size"), frameSize);
    m_session->stop();
}

void TestSession::cloudSessionStreamsToTheServerAndReadsItsFigures()
{
    CloudService service;
    SessionRequest cloud = request(0);
    cloud.cloudMode = true;
    cloud.cloudServer = "http://" + service.server();
    SessionChoices choices;
    choices.cloudServer = cloud.cloudServer;
    choices.useCloud = true;
    QVERIFY(!m_session->start(cloud, choices));
    QVERIFY(m_session->isCloudSession());
    QVERIFY(!m_session->relay()->isListening());
    QVERIFY(m_session->apiServer()->serverPort() != 0);
    // The questions list is for the presenter's own machine, not its whole network.
    QCOMPARE(m_session->apiServer()->serverAddress(), QHostAddress(QHostAddress::LocalHost));
    const quint16 ingest = m_session->cloudProxy()->ingestPort();
    QVERIFY(ingest != 0);
    QTRY_VERIFY(m_factory->writers.size() == 2);
    for (const auto &writer : m_factory->writers)
        QCOMPARE(writer->target(), QString("tcp://127.0.0.1:%1").arg(ingest));
    QVERIFY(m_settings->value("USE_CLOUD").toBool());

    // The audience figure is the server's.
    QWebSocket viewer;
    QSignalSpy joined(&viewer, &QWebSocket::connected);
    const QString room = m_settings->value("ROOM_TAG").toString();
    QVERIFY(!room.isEmpty());
    viewer.open(
        QUrl(QString("ws://%1/websocket/right/%2/readvideo")
                 .arg(service.server(), m_session->cloudProxy()->serverUrl.section('/', -1))));
    QVERIFY(joined.wait(5000));
    QTRY_COMPARE_WITH_TIMEOUT(m_session->statistics().viewers, 1, 8000);

    m_session->stop();
    QVERIFY(!m_session->isRunning());
    QCOMPARE(m_session->apiServer()->serverPort(), quint16(0));
    QVERIFY(!m_session->cloudProxy()->ingestServer.isListening());
    QVERIFY(!m_session->streamer()->isStreaming());
}

void TestSession::refusedCloudServerStartsNothing()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    SessionRequest cloud = request(0);
    cloud.cloudMode = true;
    cloud.cloudServer = QString("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    const auto error = m_session->start(cloud, SessionChoices{});
    QVERIFY(error);
    QCOMPARE(error->title, QString("Connection error"));
    QCOMPARE(error->text, QString("Can't connect to selected server"));
    cloud.cloudServer = CloudServerList::kLoadingItem;
    const auto placeholder = m_session->start(cloud, SessionChoices{});
    QVERIFY(placeholder);
    QVERIFY2(placeholder->text.contains("Choose a cloud server"), qPrintable(placeholder->text));
    QVERIFY(!m_session->isRunning());
    QCOMPARE(m_session->apiServer()->serverPort(), quint16(0));
    QVERIFY(!m_session->cloudProxy()->ingestServer.isListening());
    QVERIFY(m_factory->writers.isEmpty());
    QVERIFY(!m_settings->contains("USE_CLOUD"));
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
