// The frame pump with the real back end while the GUI thread changes what it reads: sources,
// output size and capture area during a session, then stop, restart and destruction. Run in the
// ThreadSanitizer build, where a data race between the threads fails the test.
#include "capture/CaptureStreamer.h"
#include "support/IngestCollector.h"
#include "support/MovingContent.h"
#include "support/PulseSession.h"
#include "support/TsDemux.h"
#include "support/XvfbSession.h"

#include <QtTest>

namespace {
const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QString studioMonitor = QStringLiteral("Monitor of Studio");

// What one session's two ingest connections carried.
struct Delivered
{
    int pictures = 0;
    QSize lastSize;
    int audioPackets = 0;
};

Delivered delivered(const IngestCollector &ingest, int first)
{
    Delivered result;
    for (int i = first; i < first + 2; ++i) {
        TsDemux demux;
        QString error;
        if (!demux.open(ingest.connection(i).data, &error))
            continue;
        for (const TsDemux::Packet &packet : demux.packets)
            if (demux.streams.at(packet.stream).type == AVMEDIA_TYPE_AUDIO)
                ++result.audioPackets;
        demux.decodeVideo([&result](const TsDemux::Picture &picture) {
            ++result.pictures;
            result.lastSize = picture.image.size();
            return true;
        });
    }
    return result;
}
} // namespace

class TestFramePump : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void changesDuringSession();

private:
    // Lets the pump run for `ms` while the listener takes what arrives.
    void run(int ms) { QTest::qWait(ms); }

    XvfbSession m_xvfb;
    PulseSession m_pulse;
};

void TestFramePump::initTestCase()
{
    QString error;
    QVERIFY2(m_xvfb.start(QSize(1280, 720), &error), qPrintable(error));
    QVERIFY2(m_pulse.start(&error), qPrintable(error));
    qputenv("DISPLAY", m_xvfb.display().toLocal8Bit());
    qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
}

void TestFramePump::changesDuringSession()
{
    IngestCollector ingest;
    QVERIFY(ingest.listen());
    // The screen moves, so that pictures keep coming: a still one is sent only when it changes.
    MovingContent content;
    QString error;
    QVERIFY2(content.start(m_xvfb.display(), QRect(0, 0, 1280, 720), &error), qPrintable(error));

    auto streamer = std::make_unique<CaptureStreamer>();
    streamer->setIngestPort(ingest.port());
    streamer->setSources(screenDevice, studioMonitor);
    streamer->setCaptureArea(0, QRect());
    streamer->setOutputParams(QSize(640, 360), 1000);
    streamer->startStreaming(false);
    QTRY_COMPARE(ingest.count(), 2);
    // Each change must show in what the writers send, whatever the machine's load.
    QTRY_COMPARE_WITH_TIMEOUT(delivered(ingest, 0).lastSize, QSize(640, 360), 10000);

    streamer->setSources(QStringLiteral("NO_VIDEO"), QStringLiteral("NO_AUDIO"));
    run(300);
    const int beforeResume = delivered(ingest, 0).pictures;
    streamer->setSources(screenDevice, QStringLiteral("ORIGINAL"));
    QTRY_VERIFY_WITH_TIMEOUT(delivered(ingest, 0).pictures > beforeResume + 2, 10000);
    streamer->setOutputParams(QSize(480, 270), 600);
    QTRY_COMPARE_WITH_TIMEOUT(delivered(ingest, 0).lastSize, QSize(480, 270), 10000);
    streamer->setCaptureArea(0, QRect(100, 100, 320, 180));
    run(300);
    streamer->setSources(screenDevice, studioMonitor);
    streamer->setOutputParams(QSize(640, 360), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(delivered(ingest, 0).lastSize, QSize(640, 360), 10000);
    QVERIFY(delivered(ingest, 0).audioPackets > 0);

    streamer->stopStreaming();
    streamer->startStreaming(true); // waits for the previous pump
    QTRY_COMPARE(ingest.count(), 4);
    // The restarted session streams again on new connections.
    QTRY_VERIFY_WITH_TIMEOUT(delivered(ingest, 2).pictures > 0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(delivered(ingest, 2).audioPackets > 0, 10000);
    // Destroyed while streaming: the pump is ended and joined.
    streamer.reset();
}

QTEST_GUILESS_MAIN(TestFramePump)
#include "tst_framepump.moc"
