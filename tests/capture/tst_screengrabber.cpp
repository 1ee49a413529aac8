// The screen grab on a private Xvfb: a small change is asked of the server alone and lands
// where a whole grab puts it; the pointer drawn into the picture and large changes take the
// whole area.
#include "capture/media/FFLog.h"
#include "capture/media/ScreenGrabber.h"
#include "support/XPaintWindow.h"
#include "support/XvfbSession.h"

#include <QtTest>
#include <cstring>

namespace {

const QSize screenSize(640, 360);
const QRect area(40, 20, 400, 300);

// The two grabs' pictures, byte for byte.
bool samePicture(const ScreenGrabber &a, const ScreenGrabber &b)
{
    if (a.width() != b.width() || a.height() != b.height() || a.linesize() != b.linesize())
        return false;
    return std::memcmp(a.data(), b.data(), size_t(a.linesize()) * size_t(a.height())) == 0;
}

} // namespace

class TestScreenGrabber : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ffInit();
        QString error;
        QVERIFY2(m_xvfb.start(screenSize, &error), qPrintable(error));
        QVERIFY2(m_window.open(m_xvfb.display(), QRect(100, 80, 48, 32), &error),
                 qPrintable(error));
        m_window.fill(qRgb(0, 0, 0));
    }

    void smallChangeIsGrabbedAlone()
    {
        ScreenGrabber grabber;
        QVERIFY(open(grabber, false));
        QCOMPARE(grabber.grab(QRect()), 0);
        m_window.fill(qRgb(230, 40, 90));
        QCOMPARE(grabber.grab(m_window.rect().translated(-area.topLeft())), 0);
        QCOMPARE(grabber.partialGrabs(), 1);
        ScreenGrabber whole;
        QVERIFY(open(whole, false));
        QCOMPARE(whole.grab(QRect()), 0);
        QVERIFY(samePicture(grabber, whole));
    }

    void pointerOrLargeChangeGrabsTheWhole()
    {
        ScreenGrabber pointer;
        QVERIFY(open(pointer, true));
        QCOMPARE(pointer.grab(QRect()), 0);
        QCOMPARE(pointer.grab(QRect(10, 10, 20, 20)), 0);
        QCOMPARE(pointer.partialGrabs(), 0);
        ScreenGrabber large;
        QVERIFY(open(large, false));
        QCOMPARE(large.grab(QRect()), 0);
        QCOMPARE(large.grab(QRect(0, 0, 300, 200)), 0);
        QCOMPARE(large.partialGrabs(), 0);
    }

private:
    bool open(ScreenGrabber &grabber, bool drawMouse)
    {
        ScreenRegion region;
        region.rect = area;
        region.drawMouse = drawMouse;
        QString error;
        if (!grabber.open(m_xvfb.display().toUtf8(), region, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    }

    XvfbSession m_xvfb;
    XPaintWindow m_window;
};

QTEST_GUILESS_MAIN(TestScreenGrabber)
#include "tst_screengrabber.moc"
