// Whole local sessions driven through the main window, inside a network namespace of the test's
// own (the window serves on a local interface address, never on 127.0.0.1): first against a
// fake capture back end, then with the real one on a private X display and PulseAudio daemon,
// received by a WebSocket viewer as a browser would receive it.
#include "StudioTestHome.h"
#include "WindowProbe.h"
#include "support/FreePortPair.h"
#include "support/ModalHandler.h"
#include "support/PrivateNetwork.h"
#include "support/PulseSession.h"
#include "support/XvfbSession.h"

#include "app/MainWindow.h"
#include "app/StatusBarWidget.h"
#include "audience/gui/VoteDlg.h"
#include "capture/CaptureStreamer.h"
#include "relay/WSServer.h"
#include "web/WebServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QToolButton>
#include <QWebSocket>
#include <QtTest>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace WindowProbe;

namespace {

const QString kAddress = PrivateNetwork::kAddress;
constexpr int kStreamTimeoutMs = 30000;

// The viewer HTTP port of every window here (the relay takes the next one), picked once free;
// the ingest port is the system's pick at each Start.
int g_httpPort = 0;

SessionPorts freePorts()
{
    return {g_httpPort, 0};
}

QStringList sessionControls()
{
    return {"cmbNetwork", "spbPort", "cmbFrames", "cmbBitrate", "chkCloud"};
}

bool controlsEnabled(const MainWindow &window, bool enabled)
{
    for (const QString &name : sessionControls())
        if (child<QWidget>(window, name.toLatin1().constData())->isEnabled() != enabled)
            return false;
    return true;
}

int indexOfData(const QComboBox *combo, const QString &data)
{
    return combo->findData(data);
}

// A viewer's WebSocket, collecting what arrives.
class Viewer : public QObject
{
public:
    explicit Viewer(const QString &path)
    {
        connect(&socket, &QWebSocket::binaryMessageReceived, this,
                [this](const QByteArray &message) {
                    if (message.size() % 188 != 0)
                        ++offGridMessages;
                    stream += message;
                });
        // Every command viewer is also sent the room's question list on joining; the tests here
        // are about the other commands.
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &message) {
            if (!message.startsWith(R"({"command":"questions")"))
                texts.append(message);
            else
                ++questionLists;
        });
        socket.open(QUrl(QString("ws://%1:%2%3").arg(kAddress).arg(g_httpPort + 1).arg(path)));
    }
    bool connected() const { return socket.state() == QAbstractSocket::ConnectedState; }

    QWebSocket socket;
    QByteArray stream;
    QStringList texts;
    int questionLists = 0;
    int offGridMessages = 0;
};

struct StreamInfo
{
    AVCodecID codec;
    QSize size;
};

// The elementary streams of a recording as a player finds them. The two writers' streams each
// come with their own program table, so every table is read (as ffprobe does by default).
QList<StreamInfo> streamsOf(const QByteArray &recording)
{
    QTemporaryFile file;
    if (!file.open() || file.write(recording) != recording.size() || !file.flush())
        return {};
    AVFormatContext *context = nullptr;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "scan_all_pmts", "1", 0);
    const QByteArray name = QFile::encodeName(file.fileName());
    const int opened = avformat_open_input(&context, name.constData(), nullptr, &options);
    av_dict_free(&options);
    QList<StreamInfo> streams;
    if (opened < 0)
        return streams;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            const AVCodecParameters *parameters = context->streams[i]->codecpar;
            streams.append({parameters->codec_id, QSize(parameters->width, parameters->height)});
        }
    }
    avformat_close_input(&context);
    return streams;
}

// Runs pactl against the test's PulseAudio daemon.
bool pactl(const QStringList &arguments)
{
    QProcess process;
    process.start("pactl", arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Takes the file URLs the studio asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }

    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

const QStringList kLaterSink{"load-module", "module-null-sink", "sink_name=later",
                             "sink_properties=device.description=Later"};

} // namespace

class TestStudioSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void startAndStopLocalSession();
    void sourceChangesReachTheControllerTrimmed();
    void refreshKeepsTheLiveSource();
    void busyPortKeepsTheStudioIdle();
    void voteReachesCommandViewersAndTallyComesBack();
    void closingTheWindowEndsTheSession();
    void reconnectFailureWarnsAndStops();
    void desktopSessionReachesViewer();
    void failingAudioSourceShowsInTheStatusBar();
    void recordingShowsInTheStatusBar();

private:
    std::unique_ptr<StudioTestHome> m_home;
    XvfbSession m_xvfb;
    PulseSession m_pulse;
};

void TestStudioSession::initTestCase()
{
    if (!PrivateNetwork::inside())
        QSKIP("needs root, to run inside a network namespace of its own");
    QCOMPARE(PrivateNetwork::run({"ip", "-4", "-o", "addr", "show", "studio0"}), 0);
    g_httpPort = freePortPair();
    QVERIFY(g_httpPort != 0);
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO");
    QString error;
    QVERIFY2(m_xvfb.start(QSize(1280, 720), &error), qPrintable(error));
    QVERIFY2(m_pulse.start(&error), qPrintable(error));
    qputenv("DISPLAY", m_xvfb.display().toUtf8());
    qputenv("PULSE_SERVER", m_pulse.server().toUtf8());
}

void TestStudioSession::init()
{
    m_home = std::make_unique<StudioTestHome>();
}

void TestStudioSession::cleanup()
{
    m_home.reset();
}

void TestStudioSession::cleanupTestCase()
{
    m_pulse.stop();
    m_xvfb.stop();
}

void TestStudioSession::startAndStopLocalSession()
{
    auto factory = fakeDevices();
    MainWindow window(factory, freePorts());
    QCOMPARE(currentAddress(window), kAddress);
    child<QComboBox>(window, "cmbBitrate")->setCurrentIndex(2);

    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(window.isRunning());
    QVERIFY(showsIcon(startButton(window)->icon(), ":STOP"));
    QCOMPARE(startButton(window)->toolTip(), QString("Stop"));
    QCOMPARE(window.session()->webServer()->serverPort(), quint16(g_httpPort));
    QVERIFY(window.session()->relay()->isListening());
    QCOMPARE(window.session()->relay()->serverPort(), quint16(g_httpPort + 1));
    QVERIFY(window.session()->relay()->ingestServer.isListening());
    QVERIFY(window.session()->streamer()->isStreaming());
    // "1 Mbs" chosen while idle goes out at Start, less the audio share.
    QCOMPARE(window.session()->streamer()->videoBitrate(), 1000 - 64);
    QCOMPARE(factory->writers.size(), 2);
    QVERIFY(controlsEnabled(window, false));
    QVERIFY(child<QComboBox>(window, "cmbVideoSources")->isEnabled());
    QVERIFY(child<QDoubleSpinBox>(window, "maxAudioLag")->isEnabled());

    QSettings saved(m_home->settingsFile(), QSettings::IniFormat);
    QCOMPARE(saved.value("IP").toString(), kAddress);
    QCOMPARE(saved.value("PORT").toInt(), g_httpPort);
    QCOMPARE(saved.value("BITRATE_IND").toInt(), 2);
    QCOMPARE(saved.value("FRAME_IND").toInt(), 1);
    QCOMPARE(saved.value("AUDIO_LAG").toDouble(), 1.5);
    QCOMPARE(saved.value("USE_CLOUD").toBool(), false);

    window.session()->relay()->receivedBytes = 1048576;
    window.onStatTimer();
    QCOMPARE(child<QLabel>(window, "lblStatFeed")->text(), QString("Stream bitrate: 2730 Kbs"));

    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(!window.isRunning());
    QVERIFY(showsIcon(startButton(window)->icon(), ":START"));
    QCOMPARE(startButton(window)->toolTip(), QString("Start"));
    QVERIFY(window.session()->streamer()->isFinished());
    QVERIFY(!window.session()->relay()->isListening());
    QCOMPARE(window.session()->webServer()->serverPort(), quint16(0));
    QVERIFY(controlsEnabled(window, true));
    QCOMPARE(child<QLabel>(window, "lblStatFeed")->text(), QString("Stream bitrate: 0 Kbs"));
    QCOMPARE(child<QLabel>(window, "lblStatTotal")->text(), QString("Total bitrate: 0 Kbs"));
    QCOMPARE(child<QLabel>(window, "lblStatClients")->text(), QString("Clients: 0 "));
}

void TestStudioSession::sourceChangesReachTheControllerTrimmed()
{
    auto factory = fakeDevices();
    MainWindow window(factory, freePorts());
    QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    QComboBox *audio = child<QComboBox>(window, "cmbAudioSources");
    CaptureStreamer *streamer = window.session()->streamer();
    // Idle: choices wait for Start.
    video->setCurrentIndex(1);
    audio->setCurrentIndex(2);
    QVERIFY(!streamer->audioEnabled());

    window.on_cmdStart_clicked();
    QCOMPARE(streamer->currentVideoName(), QString("Capture Card"));
    QVERIFY(streamer->audioEnabled());

    // The controller's own capture source object is the second one the back end made (the NDI
    // lister's is the first).
    const std::shared_ptr<FakeMFDevice> device = factory->created.at(1);
    video->setCurrentIndex(indexOfData(video, "CAPTURE_DISPLAY#0"));
    QCOMPARE(streamer->currentVideoName(), QString("Medialooks DXGI/DX11 ScreenCapture"));
    QCOMPARE(device->prop("capture.screen_index"), QString("0"));
    QCOMPARE(device->prop("capture.frame_size"), QString("screen"));
    audio->setCurrentIndex(0);
    QVERIFY(!streamer->audioEnabled());
    video->setCurrentIndex(indexOfData(video, "NO_VIDEO"));
    QVERIFY(!streamer->videoEnabled());
    window.on_cmdStart_clicked();
    QVERIFY(!window.isRunning());
}

void TestStudioSession::refreshKeepsTheLiveSource()
{
    auto factory = fakeDevices();
    MainWindow window(factory, freePorts());
    QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    QPushButton *refresh = child<QPushButton>(window, "cmdRefresh");
    CaptureStreamer *streamer = window.session()->streamer();
    video->setCurrentIndex(indexOfData(video, "NO_VIDEO"));
    window.on_cmdStart_clicked();
    QVERIFY(window.isRunning());
    QVERIFY(!streamer->videoEnabled());

    QTest::mouseClick(refresh, Qt::LeftButton);
    QCOMPARE(video->currentData().toString(), QString("NO_VIDEO"));
    QVERIFY(!streamer->videoEnabled());

    // A device that moved down the list stays the one on air.
    video->setCurrentIndex(1);
    QCOMPARE(streamer->currentVideoName(), QString("Capture Card"));
    factory->devices[eMFDT_Video] = QStringList{"New Cam", "Cam One", "  Capture Card  "};
    QTest::mouseClick(refresh, Qt::LeftButton);
    QCOMPARE(video->currentIndex(), 2);
    QCOMPARE(streamer->currentVideoName(), QString("Capture Card"));

    // One that is gone gives no video, never another camera or a screen.
    factory->devices[eMFDT_Video] = QStringList{"Cam One"};
    QTest::mouseClick(refresh, Qt::LeftButton);
    QCOMPARE(video->currentData().toString(), QString("NO_VIDEO"));
    QVERIFY(!streamer->videoEnabled());
    QCOMPARE(streamer->currentVideoName(), QString("Capture Card"));
    window.on_cmdStart_clicked();
}

void TestStudioSession::busyPortKeepsTheStudioIdle()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress(kAddress), quint16(g_httpPort + 1)));
    MainWindow window(fakeDevices(), freePorts());
    QString title;
    closeNextMessageBox(&title);
    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QCOMPARE(title, QString("Start error"));
    QVERIFY(!window.isRunning());
    QVERIFY(showsIcon(startButton(window)->icon(), ":START"));
    QVERIFY(!window.session()->streamer()->isStreaming());
    QCOMPARE(window.session()->webServer()->serverPort(), quint16(0));
    QVERIFY(!window.session()->relay()->ingestServer.isListening());
    QVERIFY(controlsEnabled(window, true));
    QVERIFY(!m_home->value("IP").isValid());
}

void TestStudioSession::voteReachesCommandViewersAndTallyComesBack()
{
    MainWindow window(fakeDevices(), freePorts());
    window.on_cmdStart_clicked();
    Viewer viewer("/lumacast/cmdchannel");
    QTRY_VERIFY(viewer.connected());
    QTRY_COMPARE(window.session()->relay()->room().commandViewers(), 1);
    QTRY_COMPARE(viewer.questionLists, 1);

    window.onVoteTriggered();
    VoteDlg *vote = window.voteWindow();
    QVERIFY(vote->isVisible());
    auto *start = vote->findChild<QPushButton *>("cmdStart");
    QVERIFY(start);
    start->click();
    QTRY_COMPARE(viewer.texts.size(), 1);
    QVERIFY(viewer.texts[0].contains("\"vote_start\""));

    viewer.socket.sendTextMessage(R"({"command":"vote_result","result":"2"})");
    QTRY_COMPARE(vote->votes().value(2), 1);
    QCOMPARE(vote->votes().value(0), 1);
    start->click();
    QTRY_COMPARE(viewer.texts.size(), 2);
    QVERIFY(viewer.texts[1].contains("\"vote_stop\""));
}

void TestStudioSession::closingTheWindowEndsTheSession()
{
    MainWindow window(fakeDevices(), freePorts());
    window.show();
    window.on_cmdStart_clicked();
    QVERIFY(window.session()->streamer()->isRunning());
    QVERIFY(window.close());
    QVERIFY(!window.isRunning());
    QVERIFY(window.session()->streamer()->isFinished());
    QVERIFY(!window.session()->relay()->isListening());
}

void TestStudioSession::reconnectFailureWarnsAndStops()
{
    MainWindow window(fakeDevices(), freePorts());
    window.on_cmdStart_clicked();
    QVERIFY(window.isRunning());
    QString title, text;
    whenModalAppears([&title, &text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    window.onReconnectFailed();
    QCOMPARE(title, QString("Connection Error"));
    QCOMPARE(text, QString("Connection was broken"));
    QVERIFY(!window.isRunning());
    QVERIFY(showsIcon(startButton(window)->icon(), ":START"));
    QVERIFY(window.session()->streamer()->isFinished());
    QVERIFY(controlsEnabled(window, true));
}

void TestStudioSession::desktopSessionReachesViewer()
{
    MainWindow window(mfDefaultFactory(), freePorts());
    QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    const int desktop = indexOfData(video, "CAPTURE_DISPLAY#0");
    QVERIFY(desktop >= 0);
    video->setCurrentIndex(desktop);
    child<QComboBox>(window, "cmbAudioSources")->setCurrentIndex(1); // "original"
    child<QComboBox>(window, "cmbFrames")->setCurrentIndex(0);

    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(window.isRunning());
    Viewer viewer("/lumacast/readvideo");
    QTRY_VERIFY(viewer.connected());

    QLabel *clients = child<QLabel>(window, "lblStatClients");
    QLabel *feed = child<QLabel>(window, "lblStatFeed");
    QTRY_VERIFY_WITH_TIMEOUT(clients->text() == "Clients: 1 " &&
                                 feed->text() != "Stream bitrate: 0 Kbs",
                             kStreamTimeoutMs);
    QVERIFY(feed->text().startsWith("Stream bitrate: "));
    // A viewer who joins mid-stream needs the next full picture, whose sequence header tells the
    // demuxer what the video is; one comes every 240 frames (10 s).
    const QByteArray sequenceHeader("\x00\x00\x01\xb3", 4);
    QTRY_VERIFY_WITH_TIMEOUT(viewer.stream.contains(sequenceHeader), kStreamTimeoutMs);
    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(!window.isRunning());

    QCOMPARE(viewer.offGridMessages, 0);
    QStringList codecs;
    for (const StreamInfo &stream : streamsOf(viewer.stream)) {
        codecs.append(avcodec_get_name(stream.codec));
        if (stream.codec == AV_CODEC_ID_MPEG1VIDEO)
            QCOMPARE(stream.size, QSize(640, 360));
    }
    codecs.sort();
    QCOMPARE(codecs, (QStringList{"mp2", "mpeg1video"}));

    QSettings saved(m_home->settingsFile(), QSettings::IniFormat);
    QCOMPARE(saved.value("VIDEO_IND").toInt(), desktop);
    QCOMPARE(saved.value("AUDIO_IND").toInt(), 1);
    QCOMPARE(saved.value("FRAME_IND").toInt(), 0);
    QCOMPARE(saved.value("BITRATE_IND").toInt(), 1);
    QCOMPARE(saved.value("IP").toString(), kAddress);
    QCOMPARE(saved.value("PORT").toInt(), g_httpPort);
    QCOMPARE(saved.value("USE_CLOUD").toBool(), false);
}

void TestStudioSession::failingAudioSourceShowsInTheStatusBar()
{
    // A second source, listed by the window and gone with the restart below.
    QVERIFY(pactl(kLaterSink));
    MainWindow window(mfDefaultFactory(), freePorts());
    const StatusBarWidget *bar = window.findChild<StatusBarWidget *>();
    QVERIFY(bar);
    QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    QComboBox *audio = child<QComboBox>(window, "cmbAudioSources");
    video->setCurrentIndex(indexOfData(video, "NO_VIDEO"));
    audio->setCurrentIndex(audio->findText("Monitor of Studio"));
    QVERIFY(audio->currentIndex() > 0);

    window.on_cmdStart_clicked();
    QVERIFY(window.isRunning());
    // The sound reaches the relay, and nothing was reported on its way.
    const QLabel *feed = child<QLabel>(window, "lblStatFeed");
    QTRY_VERIFY_WITH_TIMEOUT(feed->text() != "Stream bitrate: 0 Kbs", kStreamTimeoutMs);
    QCOMPARE(bar->message(), QString());

    // The sound server goes away during the session, and comes back.
    QString error;
    QVERIFY2(m_pulse.restart(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(
        bar->message().startsWith("Audio source not working (Monitor of Studio: "), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(bar->message(), QString(), 5000);
    window.on_cmdStart_clicked();

    // A device listed at start-up and gone by Start cannot be opened at all.
    audio->setCurrentIndex(audio->findText("Monitor of Later"));
    window.on_cmdStart_clicked();
    QTRY_VERIFY_WITH_TIMEOUT(
        bar->message().startsWith("Audio source not working (Monitor of Later: "), 2000);
    window.on_cmdStart_clicked();
    QCOMPARE(bar->message(), QString());
}

void TestStudioSession::recordingShowsInTheStatusBar()
{
    QTemporaryDir folder;
    m_home->set("RECORD_DIR", folder.path());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCheckBox *record = child<QCheckBox>(window, "chkRecord");
    QLabel *status = child<QLabel>(window, "lblRecording");
    QPushButton *openFolder = child<QPushButton>(window, "cmdOpenRecordingFolder");
    QVERIFY(!record->isChecked());
    QVERIFY(openFolder->isHidden());
    QComboBox *video = child<QComboBox>(window, "cmbVideoSources");
    video->setCurrentIndex(indexOfData(video, "CAPTURE_DISPLAY#0"));
    child<QComboBox>(window, "cmbAudioSources")->setCurrentIndex(1); // "original"
    child<QComboBox>(window, "cmbFrames")->setCurrentIndex(0);
    QTest::mouseClick(record, Qt::LeftButton);
    QVERIFY(record->isChecked());

    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(window.isRunning());
    QVERIFY(!record->isEnabled());
    QCOMPARE(m_home->value("RECORD").toBool(), true);
    // Its duration and size, counting while the session runs.
    const QRegularExpression figures(R"(^REC 0:00:0[2-9], (\d+\.\d) MB$)");
    QTRY_VERIFY_WITH_TIMEOUT(figures.match(status->text()).hasMatch(), kStreamTimeoutMs);
    QVERIFY(openFolder->isHidden());

    QTest::mouseClick(startButton(window), Qt::LeftButton);
    QVERIFY(!window.isRunning());
    QVERIFY(record->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith("Recorded: Lumacast "), kStreamTimeoutMs);
    const QString name = status->text().mid(QString("Recorded: ").size());
    QVERIFY2(name.endsWith(".mkv"), qPrintable(name));
    QVERIFY2(QFileInfo(folder.filePath(name)).size() > 0, qPrintable(name));
    QVERIFY(!openFolder->isHidden());

    UrlCatcher desktop;
    QTest::mouseClick(openFolder, Qt::LeftButton);
    QCOMPARE(desktop.urls, QList<QUrl>{QUrl::fromLocalFile(folder.path())});
}

int main(int argc, char *argv[])
{
    const int status = PrivateNetwork::runSelfInside(argc, argv);
    if (status >= 0)
        return status;
    QApplication app(argc, argv);
    TestStudioSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_studiosession.moc"
