#include "audience/QRImage.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <qrcodegen/qrcodegen.hpp>

// The QR picture against a model of its geometry: pixel (px, py) is dark exactly when its centre
// lies in a dark module, module k covering [(k + 1) m, (k + 2) m) for m = min(w, h) / (n + 2).
class TestQRImage : public QObject
{
    Q_OBJECT
private slots:
    void paintsTheSymbolOnItsGrid_data();
    void paintsTheSymbolOnItsGrid();
    void twentyFiveModulesInFiveHundredPixels();
    void wideImageKeepsTheSymbolTopLeft();
    void tooLongTextGivesNoImage();
    void previewSquare_data();
    void previewSquare();
    void pngSuffix_data();
    void pngSuffix();
    void failedWritesSayWhyAndKeepTheEarlierFile();
};

namespace {

qrcodegen::QrCode symbolOf(const QString &text)
{
    return qrcodegen::QrCode::encodeText(text.toUtf8().constData(), qrcodegen::QrCode::Ecc::HIGH);
}

bool isBlack(const QImage &image, int x, int y)
{
    return image.pixel(x, y) == qRgb(0, 0, 0);
}

bool isWhite(const QImage &image, int x, int y)
{
    return image.pixel(x, y) == qRgb(255, 255, 255);
}

} // namespace

void TestQRImage::paintsTheSymbolOnItsGrid_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("local address, 500 x 500") << QSize(500, 500) << "http://192.168.1.20:8080";
    QTest::newRow("cloud address, 500 x 500")
        << QSize(500, 500) << "http://cloud.example.net/?room=" + QString(68, 'a');
    QTest::newRow("wide 600 x 400") << QSize(600, 400) << "http://192.168.1.20:8080";
    QTest::newRow("tall 300 x 450") << QSize(300, 450) << "http://10.0.0.7:9000";
}

void TestQRImage::paintsTheSymbolOnItsGrid()
{
    QFETCH(QSize, size);
    QFETCH(QString, text);
    const QImage image = QRImage::makeQRImage(size, text);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), QImage::Format_RGB32);
    const qrcodegen::QrCode symbol = symbolOf(text);
    const int n = symbol.getSize();
    const double m = std::min(size.width(), size.height()) / double(n + 2);
    int checked = 0;
    for (int py = 0; py < size.height(); ++py) {
        for (int px = 0; px < size.width(); ++px) {
            const double cx = (px + 0.5) / m - 1;
            const double cy = (py + 0.5) / m - 1;
            // Centres within a hair of a module edge may fall either way.
            const double edge = 0.01;
            if (std::abs(cx - std::round(cx)) < edge || std::abs(cy - std::round(cy)) < edge)
                continue;
            const int mx = int(std::floor(cx));
            const int my = int(std::floor(cy));
            const bool dark = mx >= 0 && my >= 0 && mx < n && my < n && symbol.getModule(mx, my);
            if (dark ? !isBlack(image, px, py) : !isWhite(image, px, py))
                QFAIL(qPrintable(
                    QString("pixel %1,%2 of module %3,%4").arg(px).arg(py).arg(mx).arg(my)));
            ++checked;
        }
    }
    QVERIFY(checked > size.width() * size.height() * 9 / 10);
}

void TestQRImage::twentyFiveModulesInFiveHundredPixels()
{
    const QString text = "http://a.b/cd";
    QCOMPARE(symbolOf(text).getSize(), 25); // version 2 at level HIGH
    const QImage image = QRImage::makeQRImage(QSize(500, 500), text);
    // m = 500 / 27 = 18.5185...: the finder's top-left module starts there, so pixel 18 (centre
    // 18.5) is margin and pixel 19 is the first dark one; its seven modules end at 148.148.
    QVERIFY(isWhite(image, 18, 18));
    QVERIFY(isWhite(image, 19, 18));
    QVERIFY(isWhite(image, 18, 19));
    QVERIFY(isBlack(image, 19, 19));
    QVERIFY(isBlack(image, 147, 19));
    QVERIFY(isWhite(image, 148, 19));
    // The top-right finder ends at the last module, 26 m = 481.48; one module of white follows.
    QVERIFY(isBlack(image, 480, 19));
    for (int px = 482; px < 500; ++px)
        for (int py = 0; py < 500; ++py)
            QVERIFY(isWhite(image, px, py) && isWhite(image, py, px));
}

void TestQRImage::wideImageKeepsTheSymbolTopLeft()
{
    const QString text = "http://a.b/cd";
    const QImage image = QRImage::makeQRImage(QSize(600, 400), text);
    // m = 400 / 27 = 14.81: the symbol ends at 385.2, everything right of it stays white.
    QVERIFY(isBlack(image, 15, 15));
    QVERIFY(isBlack(image, 384, 15));
    for (int px = 386; px < 600; ++px)
        for (int py = 0; py < 400; ++py)
            QVERIFY(isWhite(image, px, py));
}

void TestQRImage::tooLongTextGivesNoImage()
{
    QString errorText;
    QVERIFY(QRImage::makeQRImage(QSize(500, 500), QString(1274, 'x'), &errorText).isNull());
    QVERIFY2(errorText.contains("too long"), qPrintable(errorText));
    // 1273 bytes is the most a symbol holds at level HIGH.
    QVERIFY(!QRImage::makeQRImage(QSize(500, 500), QString(1273, 'x')).isNull());
    errorText.clear();
    QVERIFY(QRImage::makeQRImage(QSize(500, 500), QString("ab") + QChar::Null + "c", &errorText)
                .isNull());
    QVERIFY(!errorText.isEmpty());
}

void TestQRImage::previewSquare_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<int>("buttonHeight");
    QTest::addColumn<QRect>("square");
    QTest::newRow("720 x 500") << QSize(720, 500) << 23 << QRect(136, 10, 447, 447);
    QTest::newRow("720 x 720") << QSize(720, 720) << 23 << QRect(26, 10, 667, 667);
    QTest::newRow("narrow: as wide as the window")
        << QSize(300, 720) << 23 << QRect(0, 10, 300, 300);
    QTest::newRow("too low for any picture") << QSize(300, 40) << 23 << QRect(150, 10, 0, 0);
}

void TestQRImage::previewSquare()
{
    QFETCH(QSize, window);
    QFETCH(int, buttonHeight);
    QFETCH(QRect, square);
    QCOMPARE(QRImage::previewSquare(window, buttonHeight), square);
}

void TestQRImage::pngSuffix_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("written");
    QTest::newRow("no suffix") << "/tmp/qr"
                               << "/tmp/qr.png";
    QTest::newRow("png") << "/tmp/qr.png"
                         << "/tmp/qr.png";
    QTest::newRow("upper case") << "/tmp/QR.PNG"
                                << "/tmp/QR.PNG";
    QTest::newRow("dot in folder only") << "/tmp/v1.2/qr"
                                        << "/tmp/v1.2/qr.png";
}

void TestQRImage::pngSuffix()
{
    QFETCH(QString, fileName);
    QFETCH(QString, written);
    QCOMPARE(QRImage::withPngSuffix(fileName), written);
}

void TestQRImage::failedWritesSayWhyAndKeepTheEarlierFile()
{
    QTemporaryDir dir;
    const QString fileName = dir.filePath("qr.png");
    QString errorText;
    QVERIFY(QRImage::saveQRImage(fileName, "http://a.b/cd", &errorText));
    QImage saved(fileName);
    QCOMPARE(saved.size(), QSize(500, 500));
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB32),
             QRImage::makeQRImage(QSize(500, 500), "http://a.b/cd"));

    const QByteArray before = [&] {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!QRImage::saveQRImage(fileName, QString(2000, 'x'), &errorText));
    QVERIFY(!errorText.isEmpty());
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);

    errorText.clear();
    QVERIFY(!QRImage::saveQRImage(dir.filePath("missing/qr.png"), "http://a.b/cd", &errorText));
    QVERIFY(!errorText.isEmpty());
    errorText.clear();
    QVERIFY(!QRImage::saveQRImage(dir.filePath("qr.nosuchformat"), "http://a.b/cd", &errorText));
    QVERIFY(!errorText.isEmpty());
    QVERIFY(!QFile::exists(dir.filePath("qr.nosuchformat")));
}

QTEST_GUILESS_MAIN(TestQRImage)
#include "tst_qrimage.moc"
