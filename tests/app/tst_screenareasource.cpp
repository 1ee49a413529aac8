// The main window's side of the screen-area source: the list item, the selector it opens, and
// the area that reaches the capture controller.
#include "StudioTestHome.h"
#include "WindowProbe.h"

#include "app/MainWindow.h"
#include "capture/gui/DrawingForm.h"
#include "capture/gui/WCapture.h"

#include <QComboBox>
#include <QtTest>

using namespace WindowProbe;

namespace {

constexpr int screenAreaIndex = 2; // after the two fake devices

// The capture controller's source object: the one the properties were set on.
std::shared_ptr<FakeMFDevice> captureDevice(const FakeMFFactory &factory)
{
    for (const auto &device : factory.created)
        if (!device->prop("capture.frame_size").isEmpty())
            return device;
    return nullptr;
}

QString areaText(const QRect &area)
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(area.left())
        .arg(area.top())
        .arg(area.right())
        .arg(area.bottom());
}

} // namespace

class TestScreenAreaSource : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void choosingItShowsSelectorAndSetsArea();
    void savedIndexOpensSelectorAtStartUp_data();
    void savedIndexOpensSelectorAtStartUp();
    void otherChoiceAtStartUpLeavesSelectorHidden();
    void newPositionReachesController();
    void closingMainWindowHidesSelector();
    void oneScreenHidesChooser();

private:
    std::unique_ptr<StudioTestHome> m_home;
};

void TestScreenAreaSource::init()
{
    m_home = std::make_unique<StudioTestHome>();
}

void TestScreenAreaSource::cleanup()
{
    m_home.reset();
}

void TestScreenAreaSource::choosingItShowsSelectorAndSetsArea()
{
    auto factory = fakeDevices();
    MainWindow window(factory);
    QVERIFY(!window.areaSelector()->isVisible());
    auto *video = child<QComboBox>(window, "cmbVideoSources");
    QCOMPARE(video->itemData(screenAreaIndex).toString(), QString("CAPTURE_SCREEN"));
    video->setCurrentIndex(screenAreaIndex);
    // Shown although no session runs, and the controller has the area already.
    QVERIFY(!window.isRunning());
    QVERIFY(window.areaSelector()->isVisible());
    const auto device = captureDevice(*factory);
    QVERIFY(device);
    QCOMPARE(device->prop("capture.area"), areaText(window.areaSelector()->captureArea()));
    QCOMPARE(device->prop("capture.frame_size"), QString("area"));
    QCOMPARE(device->prop("capture.screen_index"), QString("0"));
}

void TestScreenAreaSource::savedIndexOpensSelectorAtStartUp_data()
{
    QTest::addColumn<bool>("withDevices");
    QTest::addColumn<int>("savedIndex");
    QTest::newRow("after two devices") << true << screenAreaIndex;
    // Without devices the item is the first, which the list's fill already made current.
    QTest::newRow("first item") << false << 0;
}

void TestScreenAreaSource::savedIndexOpensSelectorAtStartUp()
{
    QFETCH(bool, withDevices);
    QFETCH(int, savedIndex);
    m_home->set("VIDEO_IND", savedIndex);
    MainWindow window(withDevices ? fakeDevices() : std::make_shared<FakeMFFactory>());
    QCOMPARE(child<QComboBox>(window, "cmbVideoSources")->currentData().toString(),
             QString("CAPTURE_SCREEN"));
    QVERIFY(window.areaSelector()->isVisible());
}

void TestScreenAreaSource::otherChoiceAtStartUpLeavesSelectorHidden()
{
    // The fill makes the area item current for a moment; that is no choice of the presenter's.
    m_home->set("VIDEO_IND", 1);
    MainWindow window(std::make_shared<FakeMFFactory>());
    QCOMPARE(child<QComboBox>(window, "cmbVideoSources")->currentData().toString(),
             QString("CAPTURE_DISPLAY#0"));
    QVERIFY(!window.areaSelector()->isVisible());
}

void TestScreenAreaSource::newPositionReachesController()
{
    auto factory = fakeDevices();
    MainWindow window(factory);
    const QRect area(105, 205, 520, 520);
    emit window.areaSelector()->onNewPosition(area);
    const auto device = captureDevice(*factory);
    QVERIFY(device);
    QCOMPARE(device->prop("capture.area"), QString("105,205,624,724"));
    QCOMPARE(device->prop("capture.screen_index"), QString("0"));
}

void TestScreenAreaSource::closingMainWindowHidesSelector()
{
    MainWindow window(fakeDevices());
    window.show();
    child<QComboBox>(window, "cmbVideoSources")->setCurrentIndex(screenAreaIndex);
    QVERIFY(window.areaSelector()->isVisible());
    QVERIFY(window.close());
    QVERIFY(!window.areaSelector()->isVisible());
    QVERIFY(!window.areaSelector()->frame()->isVisible());
}

void TestScreenAreaSource::oneScreenHidesChooser()
{
    QCOMPARE(QGuiApplication::screens().size(), 1);
    MainWindow window(fakeDevices());
    auto *screens = window.areaSelector()->findChild<QComboBox *>("cmbScreens");
    QVERIFY(screens);
    QVERIFY(screens->isHidden());
    QCOMPARE(window.areaSelector()->screenIndex(), 0);
}

QTEST_MAIN(TestScreenAreaSource)
#include "tst_screenareasource.moc"
