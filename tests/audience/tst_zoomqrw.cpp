#include "audience/gui/ZoomQRW.h"
#include "session/ViewerAddress.h"
#include "support/ModalHandler.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// The zoom window, and its saved picture read back by a real QR decoder (zbarimg).
class TestZoomQRW : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void showsThePictureOfTheAddress();
    void savedPngDecodesToTheAddress_data();
    void savedPngDecodesToTheAddress();
    void cancelledSaveWritesNothing();
    void failedSaveSaysSo();
    void addressTooLongIsSaidNotDrawn();
    void escapeHidesOtherKeysDoNot_data();
    void escapeHidesOtherKeysDoNot();
    void previewIsACentredSquare();

private:
    QLabel *preview() const { return m_window->findChild<QLabel *>("lblPreview"); }
    QPushButton *saveButton() const { return m_window->findChild<QPushButton *>("cmdSave"); }
    // Presses Save and answers the file dialog with `fileName` (empty: cancel).
    void saveThroughDialog(const QString &fileName);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ZoomQRW> m_window;
};

void TestZoomQRW::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<ZoomQRW>();
}

void TestZoomQRW::cleanup()
{
    m_window.reset();
    m_dir.reset();
}

void TestZoomQRW::saveThroughDialog(const QString &fileName)
{
    bool answered = false;
    whenModalAppears([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("Save Image File"));
        QCOMPARE(dialog->nameFilters(), QStringList{"Images (*.png)"});
        answered = true;
        if (fileName.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(fileName);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
        }
    });
    QTest::mouseClick(saveButton(), Qt::LeftButton);
    QVERIFY(answered);
}

void TestZoomQRW::showsThePictureOfTheAddress()
{
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_window->windowTitle(), QString("Zoom QR"));
    QVERIFY(m_window->testAttribute(Qt::WA_StyledBackground));
    m_window->showMinimized();
    m_window->showQR("http://192.168.1.20:8080");
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized() && !m_window->isMaximized());
    QCOMPARE(m_window->text(), QString("http://192.168.1.20:8080"));
    QVERIFY(preview()->hasScaledContents());
    QCOMPARE(preview()->pixmap(Qt::ReturnByValue).size(), QSize(500, 500));
}

void TestZoomQRW::savedPngDecodesToTheAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("local address") << "http://192.168.1.20:8080"
                                   << "local.png";
    // A cloud server with a 68-character room identifier (host identifier and room UUID).
    const QString cloud = ViewerAddress::viewerUrl(true, QString(), 0, "live.example.net:80",
                                                   "0f3a9c2e7b1d4e5f8a6b9c0d1e2f3a4b"
                                                   "5d9e2b7c-4a1f-4c3e-9b8d-7e6f5a4b3c2d");
    QTest::newRow("cloud address") << cloud << "cloud.png";
    QTest::newRow("name typed without suffix") << "http://10.0.0.7:9000"
                                               << "typed";
}

void TestZoomQRW::savedPngDecodesToTheAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, fileName);
    if (QTest::currentDataTag() == QByteArray("cloud address"))
        QCOMPARE(address.size(), 100);
    const QString zbarimg = QStandardPaths::findExecutable("zbarimg");
    if (zbarimg.isEmpty())
        QFAIL("zbarimg is missing: run scripts/install-deps.sh");

    m_window->showQR(address);
    saveThroughDialog(m_dir->filePath(fileName));
    const QString written = m_dir->filePath(fileName.contains('.') ? fileName : fileName + ".png");
    QVERIFY(QFile::exists(written));

    QProcess zbar;
    zbar.start(zbarimg, {"--quiet", "--raw", "-Sdisable", "-Sqrcode.enable", written});
    QVERIFY(zbar.waitForFinished(10000));
    QCOMPARE(zbar.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()), address + "\n");
}

void TestZoomQRW::cancelledSaveWritesNothing()
{
    m_window->showQR("http://192.168.1.20:8080");
    saveThroughDialog(QString());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
}

void TestZoomQRW::failedSaveSaysSo()
{
    m_window->showQR("http://192.168.1.20:8080");
    QString shown;
    whenModalAppears([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        shown = box->text();
        box->accept();
    });
    QVERIFY(!m_window->saveTo(m_dir->filePath("missing/qr.png")));
    QVERIFY2(
        shown.startsWith("The QR code could not be saved to " + m_dir->filePath("missing/qr.png")),
        qPrintable(shown));
}

void TestZoomQRW::addressTooLongIsSaidNotDrawn()
{
    m_window->showQR(QString(1300, 'x'));
    QVERIFY(m_window->isVisible());
    QVERIFY(preview()->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY2(preview()->text().contains("cannot be shown as a QR code"),
             qPrintable(preview()->text()));

    // A later address that fits brings the picture back.
    m_window->showQR("http://192.168.1.20:8080");
    QCOMPARE(preview()->pixmap(Qt::ReturnByValue).size(), QSize(500, 500));
}

void TestZoomQRW::escapeHidesOtherKeysDoNot_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("hides");
    QTest::newRow("Escape") << int(Qt::Key_Escape) << true;
    QTest::newRow("Space") << int(Qt::Key_Space) << false;
    QTest::newRow("Q") << int(Qt::Key_Q) << false;
    QTest::newRow("Return") << int(Qt::Key_Return) << false;
}

void TestZoomQRW::escapeHidesOtherKeysDoNot()
{
    QFETCH(int, key);
    QFETCH(bool, hides);
    m_window->showQR("http://192.168.1.20:8080");
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::ignoreMessage(QtDebugMsg, "keyEvent");
    QTest::keyClick(m_window.get(), Qt::Key(key));
    QCOMPARE(m_window->isVisible(), !hides);
    // Hidden, not destroyed: the address stays for the next Save.
    QCOMPARE(m_window->text(), QString("http://192.168.1.20:8080"));
}

void TestZoomQRW::previewIsACentredSquare()
{
    saveButton()->setFixedHeight(23);
    m_window->showQR("http://192.168.1.20:8080");
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->resize(720, 500);
    QCOMPARE(preview()->geometry(), QRect(136, 10, 447, 447));
    // A new picture makes the layout place its items again; the square stays.
    m_window->showQR("http://192.168.1.21:8080");
    // The layout's request to place its items again is a posted event.
    QCoreApplication::processEvents();
    QCOMPARE(preview()->geometry(), QRect(136, 10, 447, 447));
    QVERIFY(saveButton()->geometry().top() > 10 + 447);
}

QTEST_MAIN(TestZoomQRW)
#include "tst_zoomqrw.moc"
