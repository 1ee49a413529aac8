#include "app/AppSettings.h"
#include "app/AppStyle.h"
#include "app/MainWindow.h"
#include "relay/WSServer.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void styleSheetIsTheStudioLook();
    void settingsStoreIsUserIniFile();
    void windowIsDarkAndTitled();
    void constructionListensOnNothing();
    void closingIsAccepted();

private:
    QTemporaryDir m_home;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_home.isValid());
    // Before any QSettings exists: keep the developer's own settings out of it.
    qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
    qApp->setStyleSheet(globalStyleSheet());
}

void TestMainWindow::styleSheetIsTheStudioLook()
{
    const QString sheet = globalStyleSheet();
    QCOMPARE(sheet.size(), 1273);
    QVERIFY(sheet.startsWith("MainWindow {  background-color: #050F15;}QDialog {"));
    QVERIFY(sheet.contains("selection-color: #EA700C; } QSpinBox {"));
    QVERIFY(sheet.endsWith("#scrollAreaQuize QWidget QPushButton{background-color: white;}"));
    QVERIFY(!sheet.contains('\n'));
}

void TestMainWindow::settingsStoreIsUserIniFile()
{
    std::unique_ptr<QSettings> settings(createAppSettings());
    QCOMPARE(settings->format(), QSettings::IniFormat);
    QCOMPARE(settings->scope(), QSettings::UserScope);
    QCOMPARE(settings->fileName(), m_home.filePath("config/Quillfen/LumacastPRO.ini"));
    settings->setValue("PORT", 8090);
    settings->sync();
    QCOMPARE(settings->status(), QSettings::NoError);
    QVERIFY(QFile::exists(settings->fileName()));
    settings->remove("PORT");
}

void TestMainWindow::windowIsDarkAndTitled()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QString("Lumacast PRO"));
    window.resize(320, 240);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage picture = window.grab().toImage();
    QCOMPARE(picture.pixelColor(picture.width() / 2, picture.height() / 2), QColor("#050F15"));
    QCOMPARE(window.settings()->fileName(), m_home.filePath("config/Quillfen/LumacastPRO.ini"));
}

void TestMainWindow::constructionListensOnNothing()
{
    MainWindow window;
    QVERIFY(window.relayServer());
    QVERIFY(!window.relayServer()->isListening());
    QVERIFY(!window.relayServer()->ingestServer.isListening());
}

void TestMainWindow::closingIsAccepted()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The event loop's own quit on the last close is checked with the real
    // executable under Xvfb; here: the close is accepted and the window goes.
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
