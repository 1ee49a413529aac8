#include "capture/CaptionBand.h"
#include "capture/media/MFFrame.h"

#include <QtTest>

#include <algorithm>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr uint8_t kGrey = 120;

MFFramePtr frameAt(int64_t tick, bool withPicture)
{
    FFFramePtr picture;
    if (withPicture) {
        picture.reset(av_frame_alloc());
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = kWidth;
        picture->height = kHeight;
        if (av_frame_get_buffer(picture.get(), 0) < 0)
            return nullptr;
        for (int plane = 0; plane < 3; ++plane)
            for (int row = 0; row < (plane ? kHeight / 2 : kHeight); ++row)
                std::fill_n(picture->data[plane] + row * picture->linesize[plane],
                            plane ? kWidth / 2 : kWidth, plane ? 128 : kGrey);
    }
    return std::make_shared<MFFrame>(MFAVProps{}, tick, tick * 1000, std::move(picture),
                                     std::vector<int16_t>{});
}

// The darkest and the brightest luma of rows [from, to).
std::pair<int, int> lumaRange(const AVFrame *picture, int from, int to)
{
    int low = 255, high = 0;
    for (int row = from; row < to; ++row) {
        const uint8_t *line = picture->data[0] + row * picture->linesize[0];
        low = std::min<int>(low, *std::min_element(line, line + kWidth));
        high = std::max<int>(high, *std::max_element(line, line + kWidth));
    }
    return {low, high};
}

int bandTop()
{
    return kHeight - (int(kHeight * CaptionBand::kBandShare) & ~1);
}

} // namespace

// The caption band over the stream's pictures, on real planar YUV frames.
class TestCaptionBand : public QObject
{
    Q_OBJECT
private slots:
    void noTextLeavesFramesAlone();
    void bandDarkensTheBottomAndCarriesTheTextAsText();
    void stillScreenGetsTheBandAndLosesItAgain();
};

void TestCaptionBand::noTextLeavesFramesAlone()
{
    CaptionBand band;
    const MFFramePtr frame = frameAt(1, true);
    QCOMPARE(band.apply(frame), frame);
    const MFFramePtr still = frameAt(2, false);
    QCOMPARE(band.apply(still), still);
}

void TestCaptionBand::bandDarkensTheBottomAndCarriesTheTextAsText()
{
    CaptionBand band;
    // Read as markup, these would draw nothing.
    band.setText("<b></b><img src=x>");
    const MFFramePtr source = frameAt(1, true);
    const MFFramePtr shown = band.apply(source);
    QVERIFY(shown != source);
    QCOMPARE(shown->tick(), source->tick());
    // The source frame, which other writers may share, is untouched.
    QCOMPARE(lumaRange(source->picture(), 0, kHeight), std::make_pair(int(kGrey), int(kGrey)));
    QCOMPARE(lumaRange(shown->picture(), 0, bandTop()), std::make_pair(int(kGrey), int(kGrey)));
    const auto [low, high] = lumaRange(shown->picture(), bandTop(), kHeight);
    QVERIFY2(low < kGrey / 2, qPrintable(QString::number(low)));
    QVERIFY2(high > 200, qPrintable(QString::number(high)));
}

void TestCaptionBand::stillScreenGetsTheBandAndLosesItAgain()
{
    CaptionBand band;
    QVERIFY(band.apply(frameAt(5, true))->picture());
    band.setText("Is it on?");
    // A picture cannot share the last one's tick: the band waits for the next.
    QVERIFY(!band.apply(frameAt(5, false))->picture());
    const MFFramePtr banded = band.apply(frameAt(6, false));
    QVERIFY(banded->picture());
    QVERIFY(banded->settled());
    QVERIFY(lumaRange(banded->picture(), bandTop(), kHeight).first < kGrey / 2);
    // Once drawn, the still screen needs nothing more.
    QVERIFY(!band.apply(frameAt(7, false))->picture());
    band.setText(QString());
    const MFFramePtr plain = band.apply(frameAt(8, false));
    QVERIFY(plain->picture());
    QCOMPARE(lumaRange(plain->picture(), 0, kHeight), std::make_pair(int(kGrey), int(kGrey)));
}

QTEST_MAIN(TestCaptionBand)
#include "tst_captionband.moc"
