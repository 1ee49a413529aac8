// The frame pump with the real back end while the GUI thread changes what it reads: sources,
// output size and capture area during a session, then stop, restart and destruction. Run in the
// ThreadSanitizer build, where a data race between the threads fails the test.
#include "capture/CaptureStreamer.h"
#include "support/IngestCollector.h"
#include "support/PulseSession.h"
#include "support/XvfbSession.h"

#include <QtTest>

namespace {
const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QString studioMonitor = QStringLiteral("Monitor of Studio");
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
    for (int tries = 0; tries < 600 && !ingest.listen(); ++tries)
        QTest::qWait(100);
    QVERIFY(ingest.isListening());

    auto streamer = std::make_unique<CaptureStreamer>();
    streamer->setSources(screenDevice, studioMonitor);
    streamer->setCaptureArea(0, QRect());
    streamer->setOutputParams(QSize(640, 360), 1000);
    streamer->startStreaming(false);
    QTRY_COMPARE(ingest.count(), 2);
    run(500);

    streamer->setSources(QStringLiteral("NO_VIDEO"), QStringLiteral("NO_AUDIO"));
    run(300);
    streamer->setSources(screenDevice, QStringLiteral("ORIGINAL"));
    run(300);
    streamer->setOutputParams(QSize(480, 270), 600);
    run(300);
    streamer->setCaptureArea(0, QRect(100, 100, 320, 180));
    run(300);
    streamer->setSources(screenDevice, studioMonitor);
    streamer->setOutputParams(QSize(640, 360), 1000);
    run(300);

    streamer->stopStreaming();
    streamer->startStreaming(true); // waits for the previous pump
    QTRY_COMPARE(ingest.count(), 4);
    run(500);
    // Destroyed while streaming: the pump is ended and joined.
    streamer.reset();
    QVERIFY(ingest.totalBytes(2) > 0);
    QVERIFY(ingest.totalBytes(3) > 0);
}

QTEST_GUILESS_MAIN(TestFramePump)
#include "tst_framepump.moc"
