// The screen source of a Wayland desktop, run by wayland-session.sh inside a headless sway
// whose background is #20c040 and whose portal picker notes every time it is shown.
#include "capture/media/FFDevice.h"
#include "capture/media/FFPtr.h"
#include "capture/media/ScreenCastToken.h"
#include "support/ChildProcess.h"
#include "support/XPaintWindow.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QRgb background = qRgb(0x20, 0xc0, 0x40);
const QRgb windowColour = qRgb(0xc0, 0x20, 0xa0);
const QSize output(640, 360);

// wlroots' screen copy sends a new stream its first picture only when something on the screen
// changes: the test's window is drawn again for every frame taken.
XPaintWindow *damageSource = nullptr;

bool near(QRgb actual, QRgb expected)
{
    const int tolerance = 24;
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

QImage imageOf(const AVFrame *frame)
{
    QImage image(frame->width, frame->height, QImage::Format_RGB32);
    SwsContext *sws =
        sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                       frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
    uint8_t *dst[1] = {image.bits()};
    const int dstStride[1] = {int(image.bytesPerLine())};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
    return image;
}

int pickerShown()
{
    QFile log(qEnvironmentVariable("PICKER_LOG"));
    return log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : 0;
}

void declinePicker(bool decline)
{
    QFile flag(qEnvironmentVariable("PICKER_DECLINE"));
    if (decline)
        QVERIFY(flag.open(QIODevice::WriteOnly));
    else
        flag.remove();
}

struct Screen
{
    std::shared_ptr<FFDevice> device = std::make_shared<FFDevice>();
    MFAVProps format;
    MFFramePtr frame;

    explicit Screen(const QString &area = QString())
    {
        format.video = {output.width(), output.height(), 24.0};
        int count = 0;
        device->DeviceGetCount(eMFDT_Video, &count);
        for (int i = 0; i < count; ++i) {
            QString name;
            device->DeviceGetByIndex(eMFDT_Video, i, &name, nullptr);
            if (name == screenDevice)
                device->DeviceSet(eMFDT_Video, i, QString());
        }
        device->PropsSet("capture.highlight_mouse", "hide");
        device->PropsSet("capture.screen_index", "0");
        device->PropsSet("capture.area", area);
        device->PropsSet("capture.frame_size", area.isEmpty() ? "screen" : "area");
        device->PropsSet("capture.aspect_ratio", "keep");
    }

    // Takes frames until `done` holds for one (true) or the desktop had long enough (false).
    bool until(const std::function<bool(const MFFrame &, const QImage &)> &done)
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (damageSource)
                damageSource->fill(windowColour);
            if (mfFailed(device->SourceFrameConvertedGet(format, -1, &frame, QString())))
                return false;
            if (frame->picture() && done(*frame, imageOf(frame->picture())))
                return true;
        }
        return false;
    }
};

QString describe(const Screen &screen)
{
    if (!screen.frame || !screen.frame->picture())
        return QStringLiteral("no frame");
    const QImage image = imageOf(screen.frame->picture());
    return QStringLiteral("trouble '%1', pixel (20,20) %2, (150,150) %3")
        .arg(screen.frame->trouble().video)
        .arg(image.pixel(20, 20), 0, 16)
        .arg(image.pixel(150, 150), 0, 16);
}

} // namespace

class TestWaylandCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void screenShowsBackgroundAndWindow();
    void restoreTokenStartsSecondSessionWithoutPicker();
    void areaIsCropOfMonitor();
    void stillDesktopTakesNoPicturesAndAChangeAtOnce();
    void cancelledPickerIsTroubleUntilRefresh();
    void missingPortalIsTrouble();
    // Last: it ends the harness's portal back end, which D-Bus then starts anew.
    void endedShareIsTroubleUntilPortalIsBack();

private:
    XPaintWindow m_window;
};

void TestWaylandCapture::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("PICKER_LOG"))
        QSKIP("runs inside tests/support/wayland/wayland-session.sh");
    // An XWayland window, so that the share shows what X11 capture cannot.
    QString error;
    QVERIFY2(m_window.open(qEnvironmentVariable("DISPLAY"), QRect(100, 100, 320, 240), &error),
             qPrintable(error));
    m_window.fill(windowColour);
    damageSource = &m_window;
}

void TestWaylandCapture::init()
{
    ScreenCastToken::save(QString());
    declinePicker(false);
}

void TestWaylandCapture::screenShowsBackgroundAndWindow()
{
    const int shownBefore = pickerShown();
    Screen screen;
    // 1280x720 into 640x360: the window's (100,100)-(420,340) is (50,50)-(210,170).
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.isEmpty() && near(image.pixel(20, 20), background) &&
               near(image.pixel(130, 110), windowColour) && near(image.pixel(600, 300), background);
    }),
             qPrintable(describe(screen)));
    // The first share asks the presenter; its token is kept for the next one.
    QCOMPARE(pickerShown(), shownBefore + 1);
    QVERIFY(!ScreenCastToken::load().isEmpty());
}

void TestWaylandCapture::restoreTokenStartsSecondSessionWithoutPicker()
{
    QString firstToken;
    {
        Screen first;
        QVERIFY2(first.until([](const MFFrame &, const QImage &image) {
            return near(image.pixel(20, 20), background);
        }),
                 qPrintable(describe(first)));
        firstToken = ScreenCastToken::load();
    }
    QVERIFY(!firstToken.isEmpty());
    const int shownBefore = pickerShown();
    Screen second;
    QVERIFY2(second.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.isEmpty() && near(image.pixel(130, 110), windowColour);
    }),
             qPrintable(describe(second)));
    QCOMPARE(pickerShown(), shownBefore);
    // Kept again from this start (xdg-desktop-portal 1.16 hands back the same one).
    QVERIFY(!ScreenCastToken::load().isEmpty());
}

void TestWaylandCapture::stillDesktopTakesNoPicturesAndAChangeAtOnce()
{
    Screen screen;
    QVERIFY2(screen.until([](const MFFrame &, const QImage &image) {
        return near(image.pixel(130, 110), windowColour);
    }),
             qPrintable(describe(screen)));
    // Nothing is drawn now: the compositor sends nothing, and after the settled repeat of the
    // last picture the frames come without one. The later tests need the drawing back.
    damageSource = nullptr;
    const std::unique_ptr<XPaintWindow, void (*)(XPaintWindow *)> drawAgain(
        &m_window, [](XPaintWindow *window) {
            window->fill(windowColour);
            damageSource = window;
        });
    QDeadlineTimer deadline(20000);
    do
        QVERIFY(!mfFailed(
            screen.device->SourceFrameConvertedGet(screen.format, -1, &screen.frame, QString())));
    while (!screen.frame->settled() && !deadline.hasExpired());
    QVERIFY(screen.frame->settled());
    // Up to the repeat that keeps a quiet stream alive, frames carry no picture, and not one
    // buffer is taken from the compositor meanwhile.
    const uint64_t buffersSettled = screen.device->screenShareStatistics().buffers;
    int empty = 0;
    deadline.setRemainingTime(20000);
    do {
        QVERIFY(!mfFailed(
            screen.device->SourceFrameConvertedGet(screen.format, -1, &screen.frame, QString())));
        empty += screen.frame->picture() ? 0 : 1;
    } while (!screen.frame->picture() && !deadline.hasExpired());
    QVERIFY(screen.frame->picture());
    QVERIFY(empty > 0);
    QCOMPARE(screen.device->screenShareStatistics().buffers, buffersSettled);
    // The compositor's damage names the window alone: that part is taken anew, and the rest
    // of the picture stays as it was.
    const QRgb changed = qRgb(0x30, 0x30, 0xe0);
    m_window.fill(changed);
    QVERIFY2(screen.until([changed](const MFFrame &, const QImage &image) {
        return near(image.pixel(130, 110), changed) && near(image.pixel(20, 20), background) &&
               near(image.pixel(600, 300), background);
    }),
             qPrintable(describe(screen)));
}

void TestWaylandCapture::areaIsCropOfMonitor()
{
    // Half the window and the background left of it, in desktop coordinates.
    Screen screen(QStringLiteral("0,100,259,339"));
    // 260x240 letterboxed into 640x360: 390x360 centred, so x 125..515; the window starts at
    // desktop x 100, that is 100/260 of the picture's width.
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.isEmpty() && near(image.pixel(170, 180), background) &&
               near(image.pixel(450, 180), windowColour) &&
               near(image.pixel(40, 180), qRgb(0, 0, 0));
    }),
             qPrintable(describe(screen)));
}

void TestWaylandCapture::cancelledPickerIsTroubleUntilRefresh()
{
    declinePicker(true);
    Screen screen;
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.contains("cancelled") && near(image.pixel(20, 20), 0);
    }),
             qPrintable(describe(screen)));
    QVERIFY(screen.frame->trouble().video.startsWith(screenDevice + ": "));
    declinePicker(false);
    // Refresh lists the devices again, which asks again.
    int count = 0;
    std::make_shared<FFDevice>()->DeviceGetCount(eMFDT_Video, &count);
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.isEmpty() && near(image.pixel(20, 20), background);
    }),
             qPrintable(describe(screen)));
}

void TestWaylandCapture::missingPortalIsTrouble()
{
    // A D-Bus session of its own that knows no services: no portal to activate.
    QTemporaryDir dir;
    QFile config(dir.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("<busconfig><type>session</type><listen>unix:dir=" + dir.path().toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                 "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                 "own=\"*\"/></policy></busconfig>");
    config.close();
    ChildProcess bus;
    ChildProcess::Options options;
    options.pipes = true;
    QString error;
    QVERIFY2(bus.start("dbus-daemon",
                       {"--nofork", "--print-address", "--config-file=" + config.fileName()},
                       options, &error),
             qPrintable(error));
    const QByteArray address = QByteArray::fromStdString(bus.readLine(10000)).trimmed();
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    {
        Screen screen;
        const bool troubled = screen.until([](const MFFrame &frame, const QImage &image) {
            return frame.trouble().video.contains("no screen-cast portal") &&
                   near(image.pixel(20, 20), 0);
        });
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
        QVERIFY2(troubled, qPrintable(describe(screen)));
    }
    bus.stop();
}

void TestWaylandCapture::endedShareIsTroubleUntilPortalIsBack()
{
    const pid_t backend = qEnvironmentVariableIntValue("PORTAL_BACKEND_PID");
    QVERIFY(backend > 0);
    Screen screen;
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.isEmpty() && near(image.pixel(20, 20), background);
    }),
             qPrintable(describe(screen)));
    QCOMPARE(kill(backend, SIGTERM), 0);
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.contains("ended") && near(image.pixel(20, 20), 0);
    }),
             qPrintable(describe(screen)));
    // Asked again with the token: the back end D-Bus starts anew shares the same monitor.
    const int shownBefore = pickerShown();
    QVERIFY2(screen.until([](const MFFrame &frame, const QImage &image) {
        return frame.trouble().video.isEmpty() && near(image.pixel(20, 20), background);
    }),
             qPrintable(describe(screen)));
    QCOMPARE(pickerShown(), shownBefore);
}

QTEST_GUILESS_MAIN(TestWaylandCapture)
#include "tst_waylandcapture.moc"
