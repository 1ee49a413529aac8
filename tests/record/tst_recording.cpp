// Recording a real session (screen and sound of a private Xvfb and PulseAudio, the FFmpeg back
// end, the relay on loopback with a viewer on "/readvideo", or the build's cloud service with a
// viewer of its own): the finished file plays with the stream's video, size, frames and
// duration, its sound (MP4's converted to AAC) as long, with its chapters; a studio killed with
// kill -9 leaves a transport stream that plays; a full disk stops the recording, not the stream.
#include "audience/VoteRun.h"
#include "capture/media/FFFactory.h"
#include "quiz/QuizMessages.h"
#include "record/Recorder.h"
#include "relay/CLOUDProxy.h"
#include "relay/WSServer.h"
#include "session/CaptureSources.h"
#include "session/StudioSession.h"
#include "support/ChildProcess.h"
#include "support/CloudService.h"
#include "support/FFProbe.h"
#include "support/FreePortPair.h"
#include "support/MovingContent.h"
#include "support/PulseSession.h"
#include "support/QuestionStoreDir.h"
#include "support/TsDemux.h"
#include "support/XvfbSession.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>
#include <csignal>
#include <iostream>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>

Q_DECLARE_METATYPE(VideoCodec)

namespace {

const QSize kFrameSize(640, 360);

SessionRequest recordingRequest(int port, VideoCodec codec = VideoCodec::Mpeg1)
{
    SessionRequest request;
    request.address = "127.0.0.1";
    request.port = port;
    request.maxAudioLag = 1.5;
    request.sources = {CaptureSources::kScreenDevice, "ORIGINAL", 0};
    request.frameSize = kFrameSize;
    request.bitrateKbps = 1000;
    request.videoCodec = codec;
    request.record = true;
    return request;
}

int packetsOf(const TsDemux &demux, AVMediaType type)
{
    int count = 0;
    for (const TsDemux::Packet &packet : demux.packets)
        count += demux.streams[packet.stream].type == type ? 1 : 0;
    return count;
}

// Seconds of sound a viewer received: MP2 frames of 1152 samples at 48 kHz.
double soundSeconds(const QByteArray &viewerData)
{
    TsDemux received;
    QString error;
    return received.open(viewerData, &error)
               ? packetsOf(received, AVMEDIA_TYPE_AUDIO) * 1152 / 48000.0
               : 0;
}

// Whether a recording of `recordedFrames` pictures holds those a viewer received, give or take
// 1 %; `why` says what differs. A handful of pictures at least, so that two empty streams do not
// pass; how many seconds of talk give how many pictures depends on the screen's changes and the
// machine's load, and is no part of the comparison.
bool sameFrames(const QByteArray &viewerData, int recordedFrames, QString *why)
{
    TsDemux received;
    if (!received.open(viewerData, why))
        return false;
    const int viewerFrames = packetsOf(received, AVMEDIA_TYPE_VIDEO);
    *why = QStringLiteral("recorded %1 frames, the viewer received %2")
               .arg(recordedFrames)
               .arg(viewerFrames);
    return viewerFrames >= 10 && std::abs(recordedFrames - viewerFrames) <= viewerFrames / 100 + 1;
}

// A browser's stream socket: keeps every byte.
class Viewer
{
public:
    explicit Viewer(int relayPort)
        : Viewer(QUrl(QStringLiteral("ws://127.0.0.1:%1/x/readvideo").arg(relayPort)))
    {}
    explicit Viewer(const QUrl &url)
    {
        QObject::connect(&m_socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray &message) { data += message; });
        m_socket.open(url);
    }
    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    QByteArray data;

private:
    QWebSocket m_socket;
};

// The folder of the studio started by the test with --record-child; kill -9 ends it.
int runRecordingChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    QuestionStoreDir storeDir;
    QSettings settings(QDir(folder).filePath("settings.ini"), QSettings::IniFormat);
    settings.setValue("RECORD_DIR", folder);
    StudioSession session(&settings, std::make_shared<FFFactory>(), SessionPorts{0, 0});
    if (session.start(recordingRequest(freePortPair()), SessionChoices{}))
        return 2;
    // Each line: what the recording holds, for the test to pick its moment.
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&session] {
        std::cout << session.recorder()->tsPath().toStdString() << '\t'
                  << session.recorder()->bytesWritten() << '\t' << session.recorder()->durationMs()
                  << std::endl;
    });
    report.start(250);
    return app.exec();
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void recordedSessionPlaysBackWithChapters_data();
    void recordedSessionPlaysBackWithChapters();
    void cloudSessionRecordsTheSame();
    void killedStudioLeavesAPlayableFile();
    void fullDiskStopsTheRecordingNotTheStream();

private:
    void startSession(const QString &recordDir, VideoCodec codec = VideoCodec::Mpeg1);
    int relayPort() const { return m_port + 1; }

    XvfbSession m_xvfb;
    PulseSession m_pulse;
    ChildProcess m_tone;
    MovingContent m_content;
    std::unique_ptr<QuestionStoreDir> m_storeDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<StudioSession> m_session;
    QString m_mounted;
    int m_port = 0;
};

void TestRecording::initTestCase()
{
    QString error;
    QVERIFY2(m_xvfb.start(QSize(1280, 720), &error), qPrintable(error));
    QVERIFY2(m_pulse.start(&error), qPrintable(error));
    qputenv("DISPLAY", m_xvfb.display().toLocal8Bit());
    qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
    QVERIFY2(m_content.start(m_xvfb.display(), QRect(0, 0, 1280, 720), &error), qPrintable(error));
    ChildProcess::Options tone;
    tone.environment << "PULSE_SERVER=" + m_pulse.server();
    QVERIFY2(m_tone.start("ffmpeg",
                          {"-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                           "sine=frequency=440:sample_rate=48000", "-f", "pulse", "-device",
                           "studio", "tone"},
                          tone, &error),
             qPrintable(error));
}

void TestRecording::cleanupTestCase()
{
    m_tone.stop();
    m_content.stop();
    m_pulse.stop();
    m_xvfb.stop();
}

void TestRecording::init()
{
    m_storeDir = std::make_unique<QuestionStoreDir>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("s.ini"), QSettings::IniFormat);
    m_session = std::make_unique<StudioSession>(m_settings.get(), std::make_shared<FFFactory>(),
                                                SessionPorts{0, 0});
}

void TestRecording::cleanup()
{
    m_session.reset();
    if (!m_mounted.isEmpty())
        umount2(m_mounted.toLocal8Bit().constData(), MNT_DETACH);
    m_mounted.clear();
    m_settings.reset();
    m_dir.reset();
    m_storeDir.reset();
}

void TestRecording::startSession(const QString &recordDir, VideoCodec codec)
{
    m_settings->setValue("RECORD_DIR", recordDir);
    m_port = freePortPair();
    QVERIFY(m_port != 0);
    const auto error = m_session->start(recordingRequest(m_port, codec), SessionChoices{});
    QVERIFY2(!error, error ? qPrintable(error->text) : "");
    QCOMPARE(m_session->recorder()->state(), Recorder::State::Recording);
}

void TestRecording::recordedSessionPlaysBackWithChapters_data()
{
    QTest::addColumn<VideoCodec>("codec");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QString>("audioCodec");
    QTest::addColumn<int>("samplesPerFrame");
    QTest::newRow("MPEG-1 into Matroska") << VideoCodec::Mpeg1 << ".mkv"
                                          << "mpeg1video"
                                          << "mp2" << 1152;
    // Browsers play MP4 sound only as AAC: the writer's MP2 is converted.
    QTest::newRow("H.264 into MP4") << VideoCodec::H264 << ".mp4"
                                    << "h264"
                                    << "aac" << 1024;
}

void TestRecording::recordedSessionPlaysBackWithChapters()
{
    QFETCH(VideoCodec, codec);
    QFETCH(QString, extension);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);
    QFETCH(int, samplesPerFrame);
    startSession(m_dir->path(), codec);
    Viewer viewer(relayPort());
    QTRY_VERIFY_WITH_TIMEOUT(viewer.connected(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_session->recorder()->durationMs() > 3000, 30000);
    m_session->voteRun()->start("Which slide next?", {"A", "B"}, 60);
    QTRY_VERIFY_WITH_TIMEOUT(m_session->recorder()->durationMs() > 6000, 30000);
    QuizPlay::AskedQuestion question;
    question.number = 1;
    question.count = 3;
    question.title = "What is 6 x 7?";
    question.options = QStringList{"42", "67"};
    m_session->onCommand(QuizMessages::question(question, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(m_session->recorder()->durationMs() > 10000, 30000);
    const ChapterList chapters = m_session->recorder()->chapters();
    const qint64 recordedMs = m_session->recorder()->durationMs();
    QSignalSpy finished(m_session->recorder(), &Recorder::finished);
    QSignalSpy progress(m_session->recorder(), &Recorder::remuxProgress);
    m_session->stop();
    // The viewer takes in what was in flight: then it holds what the relay sent it.
    QTRY_COMPARE_WITH_TIMEOUT(qint64(viewer.data.size()), m_session->relay()->room().sentBytes(),
                              10000);
    QVERIFY(finished.wait(60000));
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().first().toInt(), 100);

    const QString path = finished.first().first().toString();
    QVERIFY2(path.endsWith(extension), qPrintable(path));
    QVERIFY2(QFileInfo(path).fileName().startsWith("Lumacast "), qPrintable(path));
    QVERIFY2(!QFileInfo::exists(m_session->recorder()->tsPath()), "the transport stream stays");
    const QJsonObject probed = ffprobe(path);
    QVERIFY2(!probed.isEmpty(), "ffprobe cannot read the recording");
    const QJsonObject video = probedStream(probed, "video");
    const QJsonObject audio = probedStream(probed, "audio");
    QCOMPARE(video.value("codec_name").toString(), videoCodec);
    QCOMPARE(video.value("width").toInt(), kFrameSize.width());
    QCOMPARE(video.value("height").toInt(), kFrameSize.height());
    QCOMPARE(audio.value("codec_name").toString(), audioCodec);
    QCOMPARE(audio.value("sample_rate").toString(), QString("48000"));
    // As much sound as the viewer received: none of it was lost converting it.
    const double audioS =
        audio.value("nb_read_frames").toString().toDouble() * samplesPerFrame / 48000;
    const double viewerAudioS = soundSeconds(viewer.data);
    qInfo() << "sound" << audioS << "s, the viewer received" << viewerAudioS << "s";
    QVERIFY2(std::abs(audioS - viewerAudioS) <= viewerAudioS / 100 + 0.1,
             qPrintable(QString::number(audioS)));

    QString frames;
    QVERIFY2(sameFrames(viewer.data, video.value("nb_read_frames").toString().toInt(), &frames),
             qPrintable(frames));
    qInfo() << frames;
    const double durationS =
        probed.value("format").toObject().value("duration").toString().toDouble();
    qInfo() << "duration" << durationS << "s, recorded for" << recordedMs << "ms";
    QVERIFY2(std::abs(durationS * 1000 - recordedMs) < 1000,
             qPrintable(QString::number(durationS)));

    const QJsonArray probedChapters = probed.value("chapters").toArray();
    QCOMPARE(chapters.size(), 2);
    // The talk's beginning is a chapter of its own.
    const QStringList titles{"Start", "Vote: Which slide next?", "Quiz question 1: What is 6 x 7?"};
    const QList<qint64> startsMs{0, chapters[0].startMs, chapters[1].startMs};
    QCOMPARE(probedChapters.size(), titles.size());
    for (int i = 0; i < titles.size(); ++i) {
        const QJsonObject chapter = probedChapters[i].toObject();
        QCOMPARE(chapter.value("tags").toObject().value("title").toString(), titles[i]);
        const double startS = chapter.value("start_time").toString().toDouble();
        QVERIFY2(std::abs(startS * 1000 - startsMs[i]) < 2, qPrintable(QString::number(startS)));
    }
}

void TestRecording::cloudSessionRecordsTheSame()
{
    CloudService service;
    m_settings->setValue("RECORD_DIR", m_dir->path());
    SessionRequest request = recordingRequest(0);
    request.cloudMode = true;
    request.cloudServer = "http://" + service.server();
    const auto error = m_session->start(request, SessionChoices{});
    QVERIFY2(!error, error ? qPrintable(error->text) : "");
    QVERIFY(m_session->isCloudSession());
    Viewer viewer(
        QUrl(QString("ws://%1/websocket/right/%2/readvideo")
                 .arg(service.server(), m_session->cloudProxy()->serverUrl.section('/', -1))));
    QTRY_VERIFY_WITH_TIMEOUT(viewer.connected(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_session->recorder()->durationMs() > 6000, 30000);
    QSignalSpy finished(m_session->recorder(), &Recorder::finished);
    m_session->stop();
    QVERIFY(finished.wait(60000));

    const QJsonObject probed = ffprobe(finished.first().first().toString());
    const QJsonObject video = probedStream(probed, "video");
    QCOMPARE(video.value("codec_name").toString(), QString("mpeg1video"));
    QCOMPARE(probedStream(probed, "audio").value("codec_name").toString(), QString("mp2"));
    // What the server still had in flight at Stop reaches the viewer after it.
    QString frames;
    QTRY_VERIFY2_WITH_TIMEOUT(
        sameFrames(viewer.data, video.value("nb_read_frames").toString().toInt(), &frames),
        qPrintable(frames), 10000);
    qInfo() << frames;
}

void TestRecording::killedStudioLeavesAPlayableFile()
{
    ChildProcess studio;
    ChildProcess::Options options;
    options.pipes = true;
    options.quiet = false;
    QString error;
    QVERIFY2(studio.start(QCoreApplication::applicationFilePath(),
                          {"--record-child", m_dir->path()}, options, &error),
             qPrintable(error));
    QString tsPath;
    qint64 bytes = 0;
    qint64 durationMs = 0;
    // The last line before the kill: what the file held then must survive it.
    while (durationMs < 5000) {
        const QStringList line =
            QString::fromStdString(studio.readLine(30000)).trimmed().split('\t');
        QCOMPARE(line.size(), 3);
        tsPath = line[0];
        bytes = line[1].toLongLong();
        durationMs = line[2].toLongLong();
    }
    QCOMPARE(::kill(studio.pid(), SIGKILL), 0);
    QCOMPARE(studio.wait(10000), 128 + SIGKILL);

    QVERIFY2(QFileInfo(tsPath).size() >= bytes, qPrintable(tsPath));
    const QJsonObject probed = ffprobe(tsPath);
    QVERIFY2(!probed.isEmpty(), "ffprobe cannot read what the killed studio left");
    QCOMPARE(probedStream(probed, "video").value("codec_name").toString(), QString("mpeg1video"));
    QCOMPARE(probedStream(probed, "audio").value("codec_name").toString(), QString("mp2"));
    const int frames = probedStream(probed, "video").value("nb_read_frames").toString().toInt();
    const double durationS =
        probed.value("format").toObject().value("duration").toString().toDouble();
    qInfo() << "killed after" << durationMs << "ms:" << frames << "frames," << durationS << "s";
    // Up to the last second: capture and encoding hold back less than that.
    QVERIFY2(durationS * 1000 > durationMs - 1000, qPrintable(QString::number(durationS)));
    QVERIFY(frames > 0);
}

void TestRecording::fullDiskStopsTheRecordingNotTheStream()
{
    if (geteuid() != 0)
        QSKIP("mounting a small tmpfs as a full disk needs root; run this test as root");
    const QString small = m_dir->filePath("small");
    QVERIFY(QDir().mkpath(small));
    QVERIFY2(mount("tmpfs", small.toLocal8Bit().constData(), "tmpfs", 0, "size=400k") == 0,
             strerror(errno));
    m_mounted = small;
    QSignalSpy stopped(m_session.get(), &StudioSession::recordingStopped);
    startSession(small);
    Viewer viewer(relayPort());
    QTRY_VERIFY_WITH_TIMEOUT(viewer.connected(), 10000);
    QVERIFY(stopped.wait(60000));
    const QString message = stopped.first().first().toString();
    QVERIFY2(message.contains("No space left on device"), qPrintable(message));
    QVERIFY2(message.contains("The stream goes on"), qPrintable(message));
    QCOMPARE(m_session->recorder()->state(), Recorder::State::StoppedByError);
    QVERIFY(m_session->isRunning());

    // The viewers go on receiving well past what the disk took.
    const qint64 atStop = viewer.data.size();
    QTRY_VERIFY_WITH_TIMEOUT(viewer.data.size() > atStop + 200 * 1024, 30000);
    const QString tsPath = m_session->recorder()->tsPath();
    QSignalSpy failed(m_session->recorder(), &Recorder::finishFailed);
    m_session->stop();
    // No room for the finished file either: the transport stream stays, and plays.
    QVERIFY(failed.wait(60000));
    QCOMPARE(failed.first().at(1).toString(), tsPath);
    const QJsonObject probed = ffprobe(tsPath);
    QCOMPARE(probedStream(probed, "video").value("codec_name").toString(), QString("mpeg1video"));
    QVERIFY(probedStream(probed, "video").value("nb_read_frames").toString().toInt() > 0);
}

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--record-child")
        return runRecordingChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestRecording test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recording.moc"
