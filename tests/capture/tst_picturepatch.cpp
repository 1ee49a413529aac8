// A changed rectangle converted alone into the last picture gives the picture that converting
// the whole screen gives, at the sizes a studio scales to.
#include "capture/media/PictureConverter.h"
#include "capture/media/ScaledPatch.h"

#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// A packed 32-bit screen of noise: every filter tap that a patch misses shows.
struct Screen
{
    Screen(QSize size) : size(size), stride(size.width() * 4), bytes(size_t(stride) * size.height())
    {
        QRandomGenerator random(7);
        for (uint8_t &byte : bytes)
            byte = uint8_t(random.bounded(256));
    }
    void paint(const QRect &rect, uint8_t value)
    {
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            std::fill_n(bytes.begin() + y * stride + rect.left() * 4, rect.width() * 4, value);
    }
    PictureConverter::Source source() const
    {
        data[0] = bytes.data();
        return {data, &stride, AV_PIX_FMT_BGR0, size.width(), size.height()};
    }
    QSize size;
    int stride;
    std::vector<uint8_t> bytes;
    mutable const uint8_t *data[4] = {};
};

int largestDifference(const AVFrame &a, const AVFrame &b)
{
    int largest = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        for (int y = 0; y < a.height >> shift; ++y)
            for (int x = 0; x < a.width >> shift; ++x)
                largest = std::max(largest, std::abs(a.data[plane][y * a.linesize[plane] + x] -
                                                     b.data[plane][y * b.linesize[plane] + x]));
    }
    return largest;
}

} // namespace

class TestPicturePatch : public QObject
{
    Q_OBJECT

private slots:
    void patchEqualsWholeConversion_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("output");
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<QRect>("changed");
        QTest::newRow("1080p unscaled")
            << QSize(1920, 1080) << QSize(1920, 1080) << false << QRect(1761, 41, 127, 99);
        QTest::newRow("1080p to 540p")
            << QSize(1920, 1080) << QSize(960, 540) << false << QRect(1761, 41, 127, 99);
        QTest::newRow("1080p to 720p, at the corner")
            << QSize(1920, 1080) << QSize(1280, 720) << false << QRect(1900, 1070, 20, 10);
        QTest::newRow("square area, letterboxed")
            << QSize(1080, 1080) << QSize(960, 540) << true << QRect(3, 500, 600, 17);
        // No patch: the whole picture is converted.
        QTest::newRow("16:10 area, letterboxed")
            << QSize(1440, 900) << QSize(960, 540) << true << QRect(3, 500, 600, 17);
    }

    void patchEqualsWholeConversion()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, output);
        QFETCH(bool, keepAspect);
        QFETCH(QRect, changed);
        Screen desktop(screen);
        PictureConverter converter;
        const FFFramePtr before = converter.convert(desktop.source(), output, keepAspect);
        QVERIFY(before);
        desktop.paint(changed, 255);
        const FFFramePtr whole = converter.convert(desktop.source(), output, keepAspect);
        const FFFramePtr patched =
            converter.update(*before, desktop.source(), changed, output, keepAspect);
        QVERIFY(whole && patched);
        QCOMPARE(largestDifference(*before, *whole) > 100, true); // the change shows
        QCOMPARE(largestDifference(*patched, *whole), 0);
    }

    void patchIsSmallAndCoversTheChange()
    {
        const QRect changed(1761, 41, 127, 99);
        const std::optional<ScaledPatch> patch =
            ScaledPatch::place(QSize(1920, 1080), QSize(960, 540), changed);
        QVERIFY(patch);
        QVERIFY(patch->source.contains(changed));
        QVERIFY(patch->source.width() * patch->source.height() < 4 * 127 * 99);
        QVERIFY(patch->target.contains(
            QRect(changed.x() / 2, changed.y() / 2, changed.width() / 2, changed.height() / 2)));
        QCOMPARE(patch->target.size(), patch->kept.size());
        QVERIFY(QRect(QPoint(), patch->scaled).contains(patch->kept));
        // Sizes that share no useful grid are converted whole.
        QVERIFY(!ScaledPatch::place(QSize(1919, 1080), QSize(960, 540), changed));
        QVERIFY(!ScaledPatch::place(QSize(1440, 900), QSize(864, 540), changed));
    }
};

QTEST_APPLESS_MAIN(TestPicturePatch)
#include "tst_picturepatch.moc"
