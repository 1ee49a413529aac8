// The screen-area selector's three windows on a private X server with two screens: placing,
// following, dragging, locking, resizing and drawing, with real pointer input.
#include "capture/gui/DrawingForm.h"
#include "capture/gui/ResizeWidget.h"
#include "capture/gui/WCapture.h"
#include "support/XPointer.h"
#include "support/XvfbTestMain.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

namespace {

const QRgb red = qRgb(255, 0, 0);
constexpr int panelHeight = 51;

bool isBlank(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return false;
    return true;
}

bool isRed(const QImage &image, QPoint at)
{
    return image.rect().contains(at) && image.pixel(at) == red;
}

} // namespace

class TestAreaSelector : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void areaIsFrameLessBorder();
    void framesFollowThePanel();
    void screenChooserReportsAreaWithNewIndex();
    void draggingPanelMovesFrameAndHandle();
    void lockStopsDragAndResizeButReports();
    void resizeKeepsDrawingTopLeftAndCutsRest();
    void drawPressedThreeTimesTakesMouse();
    void clearEmptiesDrawing();
    void closeHidesAllThree();

private:
    // Shows the selector with its frame's top left at `frameAt` (desktop coordinates).
    void showWithFrameAt(QPoint frameAt);
    void click(const char *button);
    // A point of the panel, in desktop coordinates, where no button is.
    QPoint panelGrabPoint() const;
    // A left-button stroke through `points`, given in frame coordinates.
    void strokeOnFrame(const QVector<QPoint> &points);
    DrawingForm *frame() const { return m_panel->frame(); }
    ResizeWidget *handle() const { return m_panel->frame()->handle(); }

    std::unique_ptr<WCapture> m_panel;
};

void TestAreaSelector::init()
{
    m_panel = std::make_unique<WCapture>();
}

void TestAreaSelector::cleanup()
{
    m_panel.reset();
}

void TestAreaSelector::showWithFrameAt(QPoint frameAt)
{
    m_panel->move(frameAt - QPoint(0, panelHeight));
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    QVERIFY(QTest::qWaitForWindowExposed(frame()));
    // The handle appears once the frame's show has been handled.
    QTRY_VERIFY(handle()->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(handle()));
    QTRY_COMPARE(frame()->geometry().topLeft(), frameAt);
}

QPoint TestAreaSelector::panelGrabPoint() const
{
    // Just right of Clear the spacer leaves the panel itself under the pointer.
    const auto *clear = m_panel->findChild<QPushButton *>("clearButton");
    const QPoint point =
        clear->mapTo(m_panel.get(), QPoint(clear->width() + 6, clear->height() / 2));
    if (m_panel->childAt(point) != m_panel->findChild<QWidget *>("frame"))
        qFatal("no free spot on the panel");
    return m_panel->mapToGlobal(point);
}

void TestAreaSelector::click(const char *button)
{
    auto *widget = m_panel->findChild<QPushButton *>(button);
    QVERIFY2(widget, button);
    QTest::mouseClick(widget, Qt::LeftButton);
}

void TestAreaSelector::strokeOnFrame(const QVector<QPoint> &points)
{
    QVector<QPoint> global;
    for (const QPoint &point : points)
        global.append(frame()->mapToGlobal(point));
    QVERIFY(XPointer::drag(global));
}

void TestAreaSelector::areaIsFrameLessBorder()
{
    QCOMPARE(m_panel->size(), QSize(530, panelHeight));
    QCOMPARE(frame()->size(), QSize(530, 530));
    showWithFrameAt(QPoint(100, 200));
    QCOMPARE(m_panel->captureArea(), QRect(105, 205, 520, 520));
    // The drawing layer is as large as the frame and empty.
    QCOMPARE(frame()->drawing().size(), QSize(530, 530));
    QVERIFY(isBlank(frame()->drawing()));
}

void TestAreaSelector::framesFollowThePanel()
{
    showWithFrameAt(QPoint(100, 200));
    QCOMPARE(handle()->size(), QSize(16, 16));
    QTRY_COMPARE(handle()->geometry().topLeft(), QPoint(630, 730));
    m_panel->hide();
    QVERIFY(!frame()->isVisible());
    QVERIFY(!handle()->isVisible());
    m_panel->move(40, 60);
    m_panel->show();
    QTRY_VERIFY(frame()->isVisible() && handle()->isVisible());
    QTRY_COMPARE(frame()->geometry().topLeft(), QPoint(40, 60 + panelHeight));
    QTRY_COMPARE(handle()->geometry().topLeft(), QPoint(40 + 530, 60 + panelHeight + 530));
}

void TestAreaSelector::screenChooserReportsAreaWithNewIndex()
{
    showWithFrameAt(QPoint(100, 200));
    auto *screens = m_panel->findChild<QComboBox *>("cmbScreens");
    QVERIFY(screens);
    QCOMPARE(QGuiApplication::screens().size(), 2);
    QVERIFY(screens->isVisible());
    QCOMPARE(screens->count(), 2);
    QCOMPARE(screens->itemText(1), QString("Screen 1"));
    QCOMPARE(screens->itemData(1).toInt(), 1);
    QCOMPARE(m_panel->screenIndex(), 0);
    QSignalSpy reports(m_panel.get(), &WCapture::onNewPosition);
    screens->setCurrentIndex(1);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().first().toRect(), QRect(105, 205, 520, 520));
    QCOMPARE(m_panel->screenIndex(), 1);
}

void TestAreaSelector::draggingPanelMovesFrameAndHandle()
{
    showWithFrameAt(QPoint(100, 200));
    QSignalSpy reports(m_panel.get(), &WCapture::onNewPosition);
    const QPoint grab = panelGrabPoint();
    QVERIFY(XPointer::drag({grab, grab + QPoint(60, 40)}));
    QTRY_COMPARE(reports.size(), 1);
    QCOMPARE(m_panel->geometry().topLeft(), QPoint(160, 240 - panelHeight));
    QCOMPARE(reports.first().first().toRect(), QRect(165, 245, 520, 520));
    QTRY_COMPARE(frame()->geometry().topLeft(), QPoint(160, 240));
    QTRY_COMPARE(handle()->geometry().topLeft(), QPoint(160 + 530, 240 + 530));
}

void TestAreaSelector::lockStopsDragAndResizeButReports()
{
    showWithFrameAt(QPoint(100, 200));
    click("cmdLock");
    QSignalSpy reports(m_panel.get(), &WCapture::onNewPosition);
    const QPoint grab = panelGrabPoint();
    QVERIFY(XPointer::drag({grab, grab + QPoint(60, 40)}));
    const QPoint corner = handle()->mapToGlobal(QPoint(8, 8));
    QVERIFY(XPointer::drag({corner, corner + QPoint(-100, -200)}));
    // The handle's release reports the (unchanged) area; the panel did not move.
    QTRY_COMPARE(reports.size(), 1);
    QCOMPARE(reports.first().first().toRect(), QRect(105, 205, 520, 520));
    QCOMPARE(frame()->geometry(), QRect(100, 200, 530, 530));
    QCOMPARE(handle()->geometry().topLeft(), QPoint(630, 730));

    // Unlocked, the same handle drag resizes.
    click("cmdLock");
    QVERIFY(XPointer::drag({corner, corner + QPoint(-100, -200)}));
    QTRY_COMPARE(reports.size(), 2);
    QCOMPARE(frame()->geometry(), QRect(100, 200, 430, 330));
    QCOMPARE(reports.last().first().toRect(), QRect(105, 205, 420, 320));
    QTRY_COMPARE(handle()->geometry().topLeft(), QPoint(530, 530));
}

void TestAreaSelector::resizeKeepsDrawingTopLeftAndCutsRest()
{
    showWithFrameAt(QPoint(100, 200));
    click("drawButton");
    QTRY_VERIFY(frame()->takesMouse() && frame()->mask().isEmpty());
    strokeOnFrame({{50, 50}, {250, 250}, {450, 450}});
    QTRY_VERIFY(isRed(frame()->drawing(), QPoint(450, 450)));
    QVERIFY(isRed(frame()->drawing(), QPoint(150, 150)));

    const QPoint corner = handle()->mapToGlobal(QPoint(8, 8));
    QVERIFY(XPointer::drag({corner, corner + QPoint(-230, -230)}));
    QTRY_COMPARE(frame()->size(), QSize(300, 300));
    QTRY_COMPARE(frame()->drawing().size(), QSize(300, 300));
    QVERIFY(isRed(frame()->drawing(), QPoint(150, 150)));
    QVERIFY(isRed(frame()->drawing(), QPoint(297, 297)));

    // Grown again, the part that was cut off stays away.
    const QPoint smallCorner = handle()->mapToGlobal(QPoint(8, 8));
    QVERIFY(XPointer::drag({smallCorner, smallCorner + QPoint(230, 230)}));
    QTRY_COMPARE(frame()->drawing().size(), QSize(530, 530));
    QVERIFY(isRed(frame()->drawing(), QPoint(150, 150)));
    QCOMPARE(qAlpha(frame()->drawing().pixel(450, 450)), 0);
    QCOMPARE(qAlpha(frame()->drawing().pixel(350, 350)), 0);
}

void TestAreaSelector::drawPressedThreeTimesTakesMouse()
{
    showWithFrameAt(QPoint(100, 200));
    QVERIFY(!frame()->takesMouse());
    // Clicks pass through the frame to the desktop.
    strokeOnFrame({{100, 100}, {200, 100}});
    XPointer::roundTrip();
    QVERIFY(isBlank(frame()->drawing()));

    auto *draw = m_panel->findChild<QPushButton *>("drawButton");
    for (int press = 1; press <= 3; ++press) {
        click("drawButton");
        QCOMPARE(frame()->takesMouse(), press % 2 == 1);
        QVERIFY(frame()->isVisible());
    }
    QVERIFY(draw->isChecked());
    QTRY_VERIFY(frame()->mask().isEmpty());
    strokeOnFrame({{100, 100}, {150, 120}, {200, 100}});
    QTRY_VERIFY(isRed(frame()->drawing(), QPoint(200, 100)));
    QTRY_VERIFY(handle()->isVisible());
}

void TestAreaSelector::clearEmptiesDrawing()
{
    showWithFrameAt(QPoint(100, 200));
    click("drawButton");
    QTRY_VERIFY(frame()->mask().isEmpty());
    strokeOnFrame({{60, 60}, {120, 80}});
    QTRY_VERIFY(!isBlank(frame()->drawing()));
    click("clearButton");
    QVERIFY(isBlank(frame()->drawing()));
    QVERIFY(frame()->takesMouse());
}

void TestAreaSelector::closeHidesAllThree()
{
    showWithFrameAt(QPoint(100, 200));
    click("cmdClose");
    QVERIFY(!m_panel->isVisible());
    QVERIFY(!frame()->isVisible());
    QVERIFY(!handle()->isVisible());
}

int main(int argc, char *argv[])
{
    return runOnPrivateXvfb<TestAreaSelector>(argc, argv, QSize(1280, 1024), QSize(800, 600));
}

#include "tst_areaselector.moc"
