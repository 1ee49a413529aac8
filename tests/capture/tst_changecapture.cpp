// Screen capture that follows the screen, with the real back end on private Xvfb servers and a
// PulseAudio daemon: the source is asked for frames directly (each frame with a picture is one
// grab and one encode), and whole sessions are read back from the ingest connections.
#include "capture/CaptureStreamer.h"
#include "capture/media/ChangePacing.h"
#include "capture/media/IMFFactory.h"
#include "capture/media/IMFProps.h"
#include "capture/media/IMFSource.h"
#include "capture/setMFDevice.h"
#include "relay/JoinCache.h"
#include "support/CaptureChecks.h"
#include "support/IngestCollector.h"
#include "support/LogCapture.h"
#include "support/PulseSession.h"
#include "support/TsDemux.h"
#include "support/XPaintWindow.h"
#include "support/XvfbSession.h"

#include <QtTest>
#include <functional>

namespace {

using CaptureChecks::countPackets;
using CaptureChecks::near;

const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QString studioMonitor = QStringLiteral("Monitor of Studio");
const QSize screenSize(640, 360);
const QRgb white = qRgb(255, 255, 255);
const QRgb black = qRgb(0, 0, 0);
// Frames to wait at most for something that should come within a few ticks: ten seconds of
// ticks, for a loaded machine.
constexpr int patience = 240;
const QString unwatched = QStringLiteral("screen changes cannot be watched");
// The settled pictures after the first picture or a change of the whole screen.
const int refinements = ChangePacing::Settings().refinements;

uint8_t lumaAt(const AVFrame *picture, QPoint point)
{
    return picture->data[0][point.y() * picture->linesize[0] + point.x()];
}

// The darkest luma in a square of `side` from `corner`.
uint8_t darkestIn(const AVFrame *picture, QPoint corner, int side)
{
    uint8_t darkest = 255;
    for (int y = corner.y(); y < corner.y() + side && y < picture->height; ++y)
        for (int x = corner.x(); x < corner.x() + side && x < picture->width; ++x)
            darkest = std::min(darkest, lumaAt(picture, QPoint(x, y)));
    return darkest;
}

// The screen device of the display in $DISPLAY, asked for frames as the frame pump asks.
class ScreenSource
{
public:
    bool open(bool withSound)
    {
        m_device = mfDefaultFactory()->createDevice();
        if (!select())
            return false;
        if (withSound && !setMFDevice(m_device, eMFDT_ExtAudio, studioMonitor))
            return false;
        m_source = mfQuery<IMFSource>(m_device);
        m_format.video = {screenSize.width(), screenSize.height(), 24.0};
        if (withSound)
            m_format.audio = {1, 48000, 16};
        return m_source != nullptr;
    }
    bool select() { return setMFDevice(m_device, eMFDT_Video, screenDevice); }
    void setProp(const QString &name, const QString &value)
    {
        mfQuery<IMFProps>(m_device)->PropsSet(name, value);
    }
    MFFramePtr next()
    {
        MFFramePtr frame;
        if (mfFailed(m_source->SourceFrameConvertedGet(m_format, -1, &frame, QString())))
            return nullptr;
        return frame;
    }
    // Takes frames until one is `wanted`, at most `limit`; null when none was.
    MFFramePtr until(const std::function<bool(const MFFrame &)> &wanted, int limit = patience)
    {
        for (int i = 0; i < limit; ++i)
            if (MFFramePtr frame = next(); frame && wanted(*frame))
                return frame;
        return nullptr;
    }
    // Waits for the last picture that ends the first motion: from then on the screen is still.
    bool settle()
    {
        for (int i = 0; i < refinements; ++i)
            if (!until([](const MFFrame &frame) { return frame.settled(); }))
                return false;
        return true;
    }

private:
    MFDevicePtr m_device;
    std::shared_ptr<IMFSource> m_source;
    MFAVProps m_format;
};

bool hasPicture(const MFFrame &frame)
{
    return frame.picture() != nullptr;
}

// Pictures sent on a video connection so far: each starts a PES packet on the video PID. Read
// from the transport packets, since a demuxer holds the last picture back until the next begins.
int picturesIn(const QByteArray &data)
{
    int count = 0;
    for (int at = 0; at + 188 <= data.size(); at += 188) {
        const auto *packet = reinterpret_cast<const uchar *>(data.constData() + at);
        const int pid = ((packet[1] & 0x1f) << 8) | packet[2];
        count += pid == 0x100 && (packet[1] & 0x40) ? 1 : 0;
    }
    return count;
}

int picturesSent(const IngestCollector &ingest)
{
    return picturesIn(ingest.connection(0).data);
}

// Connection `index` of the listener, cut to whole transport packets and demuxed.
TsDemux demuxed(const IngestCollector &ingest, int index)
{
    TsDemux demux;
    QString error;
    const QByteArray &data = ingest.connection(index).data;
    demux.open(data.left(data.size() / 188 * 188), &error);
    return demux;
}

// Fine detail over the whole screen, as a page of small text: dark strokes a pixel or two
// wide on white, from a fixed seed.
QImage finePage()
{
    QImage page(screenSize, QImage::Format_RGB32);
    page.fill(white);
    QRandomGenerator random(30);
    for (int y = 4; y + 10 < page.height(); y += 14)
        for (int x = 4; x + 8 < page.width(); x += 7)
            for (int stroke = 0; stroke < 3; ++stroke) {
                const int sx = x + random.bounded(5);
                const int sy = y + random.bounded(8);
                for (int dy = 0; dy < 3; ++dy)
                    page.setPixel(sx, sy + dy, black);
            }
    return page;
}

// Luma PSNR of a decoded picture against the RGB picture it was coded from (BT.601, limited
// range, as libswscale makes it).
double lumaPsnr(const QImage &luma, const QImage &source)
{
    double squares = 0;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const QRgb rgb = reinterpret_cast<const QRgb *>(source.constScanLine(y))[x];
            const double coded =
                16 + (65.481 * qRed(rgb) + 128.553 * qGreen(rgb) + 24.966 * qBlue(rgb)) / 255;
            const double d = luma.constScanLine(y)[x] - coded;
            squares += d * d;
        }
    const double mse = std::max(squares / (double(source.width()) * source.height()), 1e-3);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

// The video connection's packets from its latest full picture on, as the relay keeps them.
QByteArray joinHeadStart(const IngestCollector &ingest)
{
    const QByteArray &data = ingest.connection(0).data;
    JoinCache cache;
    cache.append(data.left(data.size() / 188 * 188));
    return cache.contents();
}

} // namespace

class TestChangeCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void stillScreenTakesNoPicturesAndSoundGoesOn();
    void stillScreenWithoutSoundWakesSeldom();
    void changeIsTakenAndShown();
    void pointerMoveIsTaken();
    void smallChangeOfAnAreaLandsInPlace();
    void sourceChosenAgainGivesAPicture();
    void withoutDamageEveryTickGrabsLoggedOnce();
    void stillSessionStaysDecodableAndJoinable();
    void stillSessionWithoutSoundKeepsFlowing();
    void stillScreenAfterMotionIsSharpened();

private:
    // A session on the still screen; connection 0 carries the video, 1 the sound.
    void startStillSession(CaptureStreamer &streamer, IngestCollector &ingest,
                           const QString &audio);

    XvfbSession m_xvfb;
    PulseSession m_pulse;
    std::unique_ptr<XPaintWindow> m_window;
};

void TestChangeCapture::initTestCase()
{
    QString error;
    QVERIFY2(m_xvfb.start(screenSize, &error), qPrintable(error));
    QVERIFY2(m_pulse.start(&error), qPrintable(error));
    qputenv("DISPLAY", m_xvfb.display().toLocal8Bit());
    qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
}

void TestChangeCapture::init()
{
    m_window = std::make_unique<XPaintWindow>();
    QString error;
    QVERIFY2(m_window->open(m_xvfb.display(), QRect(QPoint(), screenSize), &error),
             qPrintable(error));
    m_window->fill(white);
}

void TestChangeCapture::stillScreenTakesNoPicturesAndSoundGoesOn()
{
    ScreenSource source;
    QVERIFY(source.open(true));
    QVERIFY(source.settle());
    MFFramePtr previous = source.next();
    QVERIFY(previous);
    // Two seconds of ticks: each carries its period's sound, none a picture.
    for (int i = 0; i < 48; ++i) {
        const MFFramePtr frame = source.next();
        QVERIFY(frame);
        QVERIFY2(!frame->picture(), qPrintable(QStringLiteral("picture at tick %1").arg(i)));
        QCOMPARE(frame->audio().size(), size_t(2000));
        // A loaded machine may make the consumer miss a tick; the clock then skips it.
        QVERIFY(frame->tick() > previous->tick());
        previous = frame;
    }
}

void TestChangeCapture::stillScreenWithoutSoundWakesSeldom()
{
    ScreenSource source;
    QVERIFY(source.open(false));
    QVERIFY(source.settle());
    // Up to the repeat that keeps a quiet stream alive (2 s on): on the clock that would be 48
    // frames carrying nothing.
    int empty = 0;
    QVERIFY(source.until([&empty](const MFFrame &frame) {
        empty += frame.picture() ? 0 : 1;
        return frame.picture() != nullptr;
    }));
    QVERIFY2(empty < 24, qPrintable(QString::number(empty)));
}

void TestChangeCapture::changeIsTakenAndShown()
{
    ScreenSource source;
    QVERIFY(source.open(true));
    QVERIFY(source.settle());
    m_window->fill(black);
    const MFFramePtr changed = source.until(hasPicture);
    QVERIFY(changed);
    QVERIFY(!changed->settled());
    QVERIFY2(lumaAt(changed->picture(), QPoint(320, 180)) < 40,
             qPrintable(QString::number(lumaAt(changed->picture(), QPoint(320, 180)))));
    // Once still again, the same picture again, for the encoder to sharpen: the whole screen
    // changed.
    for (int i = 0; i < refinements; ++i) {
        const MFFramePtr settled = source.until(hasPicture);
        QVERIFY(settled);
        QVERIFY(settled->settled());
        QVERIFY(lumaAt(settled->picture(), QPoint(320, 180)) < 40);
    }
    QVERIFY(!source.until(hasPicture, 24));
}

void TestChangeCapture::sourceChosenAgainGivesAPicture()
{
    ScreenSource source;
    QVERIFY(source.open(true));
    QVERIFY(source.settle());
    // As when the presenter turns the video back on: the viewers are owed the picture.
    QVERIFY(source.select());
    QVERIFY(source.until(hasPicture));
}

void TestChangeCapture::pointerMoveIsTaken()
{
    ScreenSource source;
    QVERIFY(source.open(false));
    QVERIFY(source.settle());
    const QPoint target(100, 100);
    QCOMPARE(QProcess::execute("xdotool", {"mousemove", QString::number(target.x()),
                                           QString::number(target.y())}),
             0);
    const MFFramePtr moved = source.until(hasPicture);
    QVERIFY(moved);
    // The pointer is drawn there now, on the white window.
    QVERIFY2(darkestIn(moved->picture(), target - QPoint(2, 2), 20) < 100,
             qPrintable(QString::number(darkestIn(moved->picture(), target - QPoint(2, 2), 20))));
}

void TestChangeCapture::smallChangeOfAnAreaLandsInPlace()
{
    // As the studio captures: the pointer left out, so only the changed part is grabbed.
    ScreenSource source;
    QVERIFY(source.open(true));
    source.setProp("capture.highlight_mouse", "hide");
    source.setProp("capture.frame_size", "area");
    source.setProp("capture.area", "100,50,419,229");
    QVERIFY(source.settle());
    XPaintWindow square;
    QString error;
    QVERIFY2(square.open(m_xvfb.display(), QRect(300, 150, 40, 40), &error), qPrintable(error));
    square.fill(black);
    const MFFramePtr changed = source.until(hasPicture);
    QVERIFY(changed);
    // The area is scaled 2:1 into the picture.
    QVERIFY2(lumaAt(changed->picture(), QPoint(440, 240)) < 40,
             qPrintable(QString::number(lumaAt(changed->picture(), QPoint(440, 240)))));
    QVERIFY(lumaAt(changed->picture(), QPoint(100, 100)) > 200);
}

void TestChangeCapture::withoutDamageEveryTickGrabsLoggedOnce()
{
    XvfbSession old;
    QString error;
    QVERIFY2(old.start(screenSize, &error, QSize(), {"-extension", "DAMAGE"}), qPrintable(error));
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", old.display().toLocal8Bit());
    LogCapture log;
    ScreenSource source;
    const bool opened = source.open(true);
    qputenv("DISPLAY", display);
    QVERIFY(opened);
    for (int i = 0; i < 24; ++i) {
        const MFFramePtr frame = source.next();
        QVERIFY(frame);
        QVERIFY(frame->picture());
        QCOMPARE(frame->audio().size(), size_t(2000));
    }
    // A new area reopens the grab, and finds no DAMAGE again: said once is enough.
    source.setProp(QStringLiteral("capture.frame_size"), QStringLiteral("area"));
    source.setProp(QStringLiteral("capture.area"), QStringLiteral("0,0,319,179"));
    for (int i = 0; i < 24; ++i)
        QVERIFY(source.next()->picture());
    QCOMPARE(log.lines().filter(unwatched).size(), 1);
}

void TestChangeCapture::startStillSession(CaptureStreamer &streamer, IngestCollector &ingest,
                                          const QString &audio)
{
    QVERIFY(ingest.listen());
    QStringList audioDevices;
    streamer.enumerateDevices(QStringLiteral("AUDIO"), audioDevices);
    streamer.setSources(screenDevice, audio);
    streamer.setCaptureArea(0, QRect());
    streamer.setOutputParams(screenSize, 1000);
    streamer.setIngestPort(ingest.port());
    streamer.startStreaming(false);
    // The video writer connects first.
    QTRY_COMPARE_WITH_TIMEOUT(ingest.count(), 2, 10000);
}

void TestChangeCapture::stillSessionStaysDecodableAndJoinable()
{
    IngestCollector ingest;
    CaptureStreamer streamer;
    startStillSession(streamer, ingest, studioMonitor);
    // The first picture, and its settled repeats.
    QTRY_VERIFY_WITH_TIMEOUT(picturesSent(ingest) >= 1 + refinements, 10000);
    const int pictures = picturesSent(ingest);
    const int sound = countPackets(demuxed(ingest, 1), AVMEDIA_TYPE_AUDIO);
    // About a second of sound goes by, and not one picture.
    QTRY_VERIFY_WITH_TIMEOUT(countPackets(demuxed(ingest, 1), AVMEDIA_TYPE_AUDIO) > sound + 40,
                             10000);
    QCOMPARE(picturesSent(ingest), pictures);
    streamer.stopStreaming();
    QVERIFY(streamer.wait(5000));

    // Not a sample of sound missing: every MP2 frame (1152 samples) follows the one before.
    const TsDemux audio = demuxed(ingest, 1);
    QVERIFY(audio.packets.size() > 40);
    for (int i = 1; i < audio.packets.size(); ++i)
        QCOMPARE(audio.packets[i].pts - audio.packets[i - 1].pts, qint64(1152 * 90000 / 48000));

    // The video as recorded decodes in ffprobe, every picture of it.
    QTemporaryFile file;
    QVERIFY(file.open());
    const QByteArray video = ingest.connection(0).data;
    file.write(video.left(video.size() / 188 * 188));
    file.flush();
    QProcess probe;
    probe.start("ffprobe",
                {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=nb_read_frames", "-of", "csv=p=0", file.fileName()});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(probe.readAllStandardError()), QString());
    // The stream is listed once in its program and once on its own.
    QCOMPARE(probe.readAllStandardOutput().trimmed().split('\n').first().toInt(),
             picturesSent(ingest));

    // A viewer who joins now gets a full picture and what followed it, which shows the screen.
    TsDemux joiner;
    QString error;
    QVERIFY2(joiner.open(joinHeadStart(ingest), &error), qPrintable(error));
    QImage first;
    joiner.decodeVideo([&first](const TsDemux::Picture &picture) {
        first = picture.image;
        return false;
    });
    QCOMPARE(first.size(), screenSize);
    QVERIFY(near(first.pixel(320, 180), white));
}

void TestChangeCapture::stillSessionWithoutSoundKeepsFlowing()
{
    IngestCollector ingest;
    CaptureStreamer streamer;
    startStillSession(streamer, ingest, QStringLiteral("NO_AUDIO"));
    // Nothing else reaches the viewers: a still picture is repeated, so that they do not take
    // the silence for a stopped session.
    QTRY_VERIFY_WITH_TIMEOUT(picturesSent(ingest) >= 1 + refinements + 2, 15000);
    streamer.stopStreaming();
    QVERIFY(streamer.wait(5000));
}

void TestChangeCapture::stillScreenAfterMotionIsSharpened()
{
    IngestCollector ingest;
    CaptureStreamer streamer;
    // H.264 at this rate codes a screen of noise coarse, and sharpens a still one picture by
    // picture.
    streamer.setVideoCodec(VideoCodec::H264);
    startStillSession(streamer, ingest, studioMonitor);
    QTRY_VERIFY_WITH_TIMEOUT(picturesSent(ingest) >= 1 + refinements, 10000);
    QRandomGenerator random(7);
    QImage noise(screenSize, QImage::Format_RGB32);
    for (int frame = 0; frame < 24; ++frame) {
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, random.generate() | 0xff000000);
        m_window->paint(noise);
    }
    const QImage page = finePage();
    m_window->paint(page);
    // The motion's pictures, then the page's and its settled repeats: the last one shows it.
    const auto lastScore = [&ingest, &page] {
        double score = 0;
        demuxed(ingest, 0).decodeVideo([&](const TsDemux::Picture &picture) {
            score = picture.luma.isNull() ? 0 : lumaPsnr(picture.luma, page);
            return true;
        });
        return score;
    };
    // Repeated once, it stays near 16 dB; sharpened, it passes 25.
    QTRY_VERIFY_WITH_TIMEOUT(lastScore() > 21, 20000);
    streamer.stopStreaming();
    QVERIFY(streamer.wait(5000));
}

QTEST_GUILESS_MAIN(TestChangeCapture)
#include "tst_changecapture.moc"
