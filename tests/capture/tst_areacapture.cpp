// The screen-area source end to end: the selector on a private X server without a compositing
// manager, the capture controller streaming its area with the real FFmpeg back end to an
// ingest listener, and the pictures decoded again.
#include "capture/CaptureStreamer.h"
#include "capture/gui/DrawingForm.h"
#include "capture/gui/ResizeWidget.h"
#include "capture/gui/WCapture.h"
#include "support/IngestCollector.h"
#include "support/TsDemux.h"
#include "support/XPaintWindow.h"
#include "support/XPointer.h"
#include "support/XvfbTestMain.h"

#include <QPainter>
#include <QPushButton>
#include <QtTest>

namespace {

const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QRgb red = qRgb(255, 0, 0);

// The frame at 200,150 of 490 x 280 leaves an area of 480 x 270, which the 960 x 540 output
// shows twice as large.
const QRect frameRect(200, 150, 490, 280);
const QRect area(205, 155, 480, 270);
const QSize output(960, 540);
constexpr int scale = 2;

bool near(QRgb actual, QRgb expected)
{
    const int tolerance = 40;
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

// Four quadrants of distinct colours (none of them red), the area's size.
QImage quadrants(QRgb topLeft, QRgb topRight, QRgb bottomLeft, QRgb bottomRight)
{
    QImage image(area.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = area.width() / 2;
    const int h = area.height() / 2;
    painter.fillRect(0, 0, w, h, QColor(topLeft));
    painter.fillRect(w, 0, w, h, QColor(topRight));
    painter.fillRect(0, h, w, h, QColor(bottomLeft));
    painter.fillRect(w, h, w, h, QColor(bottomRight));
    return image;
}

struct Colours
{
    QRgb topLeft, topRight, bottomLeft, bottomRight;
};
const Colours first{qRgb(0, 0, 255), qRgb(0, 200, 0), qRgb(255, 255, 0), qRgb(0, 255, 255)};
const Colours second{qRgb(255, 255, 255), qRgb(0, 0, 120), qRgb(0, 120, 0), qRgb(255, 0, 255)};

QString describe(const QImage &picture, QPoint at)
{
    return QStringLiteral("pixel at %1,%2 is %3")
        .arg(at.x())
        .arg(at.y())
        .arg(picture.pixel(at) & 0xffffff, 6, 16, QLatin1Char('0'));
}

} // namespace

class TestAreaCapture : public QObject
{
    Q_OBJECT

private slots:
    void streamShowsAreaAndTheMarksDrawnOnIt();

private:
    // Checks the output picture's quadrants (away from the stroke) against `colours`.
    void verifyQuadrants(const QImage &picture, const Colours &colours);
    // Pictures decoded from the video connection that arrived before `offset`, the last one.
    QImage lastPictureBefore(qint64 offset);
    qint64 videoBytes() const;

    IngestCollector m_ingest;
    int m_videoConnection = -1;
};

qint64 TestAreaCapture::videoBytes() const
{
    return m_ingest.totalBytes(m_videoConnection);
}

void TestAreaCapture::verifyQuadrants(const QImage &picture, const Colours &colours)
{
    QCOMPARE(picture.size(), output);
    // Near the area's corners too: the frame's border lies outside the area.
    const QList<QPair<QPoint, QRgb>> expected{
        {{240, 80}, colours.topLeft},      {{6, 6}, colours.topLeft},
        {{720, 80}, colours.topRight},     {{953, 6}, colours.topRight},
        {{240, 405}, colours.bottomLeft},  {{6, 533}, colours.bottomLeft},
        {{720, 405}, colours.bottomRight}, {{953, 533}, colours.bottomRight},
    };
    for (const auto &[point, colour] : expected)
        QVERIFY2(near(picture.pixel(point), colour), qPrintable(describe(picture, point)));
}

QImage TestAreaCapture::lastPictureBefore(qint64 offset)
{
    TsDemux demux;
    QString error;
    const QByteArray data = m_ingest.connection(m_videoConnection).data;
    if (!demux.open(data, &error))
        return QImage();
    QImage last;
    demux.decodeVideo([&](const TsDemux::Picture &picture) {
        if (picture.pos >= offset)
            return false;
        last = picture.image;
        return true;
    });
    return last;
}

void TestAreaCapture::streamShowsAreaAndTheMarksDrawnOnIt()
{
    QVERIFY(m_ingest.listen());

    WCapture panel;
    DrawingForm *frame = panel.frame();
    frame->resize(frameRect.size());
    panel.move(frameRect.topLeft() - QPoint(0, panel.height()));
    panel.show();
    QTRY_VERIFY(frame->handle()->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    QTRY_COMPARE(frame->geometry(), frameRect);
    QCOMPARE(panel.captureArea(), area);

    // The desktop content under the area, opened after the frame and so above it; raising the
    // selector puts its windows on top again, as they stay.
    XPaintWindow content;
    QString error;
    QVERIFY2(content.open(qgetenv("DISPLAY"), area, &error), qPrintable(error));
    content.paint(quadrants(first.topLeft, first.topRight, first.bottomLeft, first.bottomRight));
    panel.raise();
    frame->raise();
    frame->handle()->raise();

    CaptureStreamer streamer;
    connect(&panel, &WCapture::onNewPosition, &streamer,
            [&](QRect rect) { streamer.setCaptureArea(panel.screenIndex(), rect); });
    streamer.setIngestPort(m_ingest.port());
    streamer.setSources(screenDevice, QStringLiteral("NO_AUDIO"));
    streamer.setCaptureArea(panel.screenIndex(), panel.captureArea());
    streamer.setOutputParams(output, 4000);
    streamer.startStreaming(false);
    QTRY_COMPARE_WITH_TIMEOUT(m_ingest.count(), 2, 10000);
    // The audio writer's connection carries nothing without audio.
    QTRY_VERIFY(m_ingest.totalBytes(0) > 0 || m_ingest.totalBytes(1) > 0);
    m_videoConnection = m_ingest.totalBytes(0) > 0 ? 0 : 1;
    QTest::qWait(1500);
    const qint64 beforeDrawing = videoBytes();

    // Draw, then a stroke across the frame at y 100 (area y 95, picture y 190).
    QTest::mouseClick(panel.findChild<QPushButton *>("drawButton"), Qt::LeftButton);
    QTRY_VERIFY(frame->takesMouse() && frame->mask().isEmpty());
    QVERIFY(
        XPointer::drag({frame->mapToGlobal(QPoint(45, 100)), frame->mapToGlobal(QPoint(245, 100)),
                        frame->mapToGlobal(QPoint(445, 100))}));
    QTRY_COMPARE(frame->drawing().pixel(445, 100), red);
    QTest::qWait(1500);
    const qint64 whileDrawing = videoBytes();

    // Back to letting clicks through; the content below changes and shows live, the mark stays.
    QTest::mouseClick(panel.findChild<QPushButton *>("drawButton"), Qt::LeftButton);
    QVERIFY(!frame->takesMouse());
    content.paint(
        quadrants(second.topLeft, second.topRight, second.bottomLeft, second.bottomRight));
    QTest::qWait(1500);
    const qint64 afterDrawing = videoBytes();
    streamer.stopStreaming();
    QVERIFY(streamer.wait(5000));
    QTest::qWait(300);

    const QImage plain = lastPictureBefore(beforeDrawing);
    QVERIFY(!plain.isNull());
    verifyQuadrants(plain, first);
    if (QTest::currentTestFailed())
        return;
    for (const QPoint &point : {QPoint(480, 190), QPoint(200, 190), QPoint(860, 190)})
        QVERIFY2(!near(plain.pixel(point), red), qPrintable(describe(plain, point)));

    // The stroke from frame x 45 to 445 is area x 40 to 440, picture x 80 to 880.
    const QList<QPoint> onStroke{{90, 190}, {480, 190}, {870, 190}, {480, 188}, {480, 192}};
    const QImage drawn = lastPictureBefore(whileDrawing);
    verifyQuadrants(drawn, first);
    for (const QPoint &point : onStroke)
        QVERIFY2(near(drawn.pixel(point), red), qPrintable(describe(drawn, point)));
    // Above and below the 5-pixel pen (10 in the picture) the content shows.
    QVERIFY2(near(drawn.pixel(480, 170), first.topLeft) ||
                 near(drawn.pixel(480, 170), first.topRight),
             qPrintable(describe(drawn, QPoint(480, 170))));

    const QImage live = lastPictureBefore(afterDrawing);
    verifyQuadrants(live, second);
    for (const QPoint &point : onStroke)
        QVERIFY2(near(live.pixel(point), red), qPrintable(describe(live, point)));
}

int main(int argc, char *argv[])
{
    return runOnPrivateXvfb<TestAreaCapture>(argc, argv, QSize(1280, 720));
}

#include "tst_areacapture.moc"
