// What the screen device grabs for its capture properties.
#include "capture/media/ScreenRegion.h"

#include <QtTest>

using Props = QMap<QString, QString>;
Q_DECLARE_METATYPE(Props)

class TestScreenRegion : public QObject
{
    Q_OBJECT

private slots:
    void fromProps_data();
    void fromProps();
    void cropIn_data();
    void cropIn();
};

void TestScreenRegion::fromProps_data()
{
    QTest::addColumn<Props>("props");
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<bool>("drawMouse");
    QTest::addColumn<bool>("keepAspect");

    const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    // The controller's settings for a whole display, and for an area.
    const Props display{{"capture.highlight_mouse", "hide"},
                        {"capture.screen_index", "1"},
                        {"capture.area", ""},
                        {"capture.frame_size", "screen"},
                        {"capture.background_color", "black(0)"},
                        {"capture.aspect_ratio", "keep"}};
    Props area = display;
    area["capture.screen_index"] = "0";
    area["capture.area"] = "100,50,739,409";
    area["capture.frame_size"] = "area";

    QTest::newRow("second display")
        << display << two << QRect(1920, 0, 1280, 1024) << false << true;
    QTest::newRow("area, edges included")
        << area << two << QRect(100, 50, 640, 360) << false << true;
    Props outside = area;
    outside["capture.area"] = "3000,1000,3399,1199";
    QTest::newRow("area cut at the desktop's edge")
        << outside << two << QRect(3000, 1000, 200, 80) << false << true;
    Props missing = display;
    missing["capture.screen_index"] = "5";
    QTest::newRow("unknown display means the desktop")
        << missing << two << QRect(0, 0, 3200, 1080) << false << true;
    QTest::newRow("no screen list: display 0 is the desktop")
        << Props{{"capture.screen_index", "0"}} << QList<QRect>{} << QRect(0, 0, 3200, 1080) << true
        << false;
    Props areaIgnored = area;
    areaIgnored["capture.frame_size"] = "screen";
    QTest::newRow("area kept but whole screen asked")
        << areaIgnored << two << QRect(0, 0, 1920, 1080) << false << true;
    Props malformed = area;
    malformed["capture.area"] = "100,50,739";
    QTest::newRow("malformed area falls back to the display")
        << malformed << two << QRect(0, 0, 1920, 1080) << false << true;
}

void TestScreenRegion::fromProps()
{
    QFETCH(Props, props);
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, rect);
    QFETCH(bool, drawMouse);
    QFETCH(bool, keepAspect);
    const ScreenRegion region = ScreenRegion::fromProps(props, screens, QRect(0, 0, 3200, 1080));
    QCOMPARE(region.rect, rect);
    QCOMPARE(region.drawMouse, drawMouse);
    QCOMPARE(region.keepAspect, keepAspect);
}

void TestScreenRegion::cropIn_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QRect>("placement");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QRect>("crop");
    QTest::newRow("whole monitor") << QRect(0, 0, 1280, 720) << QRect(0, 0, 1280, 720)
                                   << QSize(1280, 720) << QRect(0, 0, 1280, 720);
    QTest::newRow("area on the second monitor")
        << QRect(1380, 50, 640, 360) << QRect(1280, 0, 1920, 1080) << QSize(1920, 1080)
        << QRect(100, 50, 640, 360);
    QTest::newRow("scaled output: logical half of the pixels")
        << QRect(100, 50, 640, 360) << QRect(0, 0, 1280, 720) << QSize(2560, 1440)
        << QRect(200, 100, 1280, 720);
    QTest::newRow("area over the edge") << QRect(1000, 600, 640, 360) << QRect(0, 0, 1280, 720)
                                        << QSize(1280, 720) << QRect(1000, 600, 280, 120);
    QTest::newRow("area on another monitor")
        << QRect(1380, 50, 640, 360) << QRect(0, 0, 1280, 720) << QSize(1280, 720) << QRect();
}

void TestScreenRegion::cropIn()
{
    QFETCH(QRect, rect);
    QFETCH(QRect, placement);
    QFETCH(QSize, frame);
    QFETCH(QRect, crop);
    QCOMPARE(ScreenRegion::cropIn(rect, placement, frame), crop);
}

QTEST_GUILESS_MAIN(TestScreenRegion)
#include "tst_screenregion.moc"
