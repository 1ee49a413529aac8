#include "PictureQuality.h"

#include <algorithm>
#include <cmath>

namespace {

// The Y the encoders are given for an RGB pixel (BT.601, limited range), as libswscale has it.
double codedLuma(QRgb rgb)
{
    return 16 + (65.481 * qRed(rgb) + 128.553 * qGreen(rgb) + 24.966 * qBlue(rgb)) / 255;
}

double psnr(const QImage &luma, const QImage &frame)
{
    double squares = 0;
    qint64 count = 0;
    for (int row = ScreenClip::indexRows; row < frame.height(); ++row) {
        const uchar *a = luma.constScanLine(row);
        const auto *b = reinterpret_cast<const QRgb *>(frame.constScanLine(row));
        for (int x = 0; x < frame.width(); ++x) {
            const double d = a[x] - codedLuma(b[x]);
            squares += d * d;
        }
        count += frame.width();
    }
    // Identical pictures: capped, as a score of a lossless copy would be.
    const double mse = std::max(squares / double(count), 1e-3);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

// The decoded luma as a browser draws it full screen: at the clip's size.
QImage shownLuma(const TsDemux::Picture &picture)
{
    return picture.luma.size() == ScreenClip::size
               ? picture.luma
               : picture.luma
                     .scaled(ScreenClip::size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                     .convertToFormat(QImage::Format_Grayscale8);
}

} // namespace

PictureQuality scorePictures(const TsDemux &video, const ScreenClip &clip)
{
    PictureQuality quality;
    double sum = 0;
    quality.lowestPsnr = 1e9;
    video.decodeVideo([&](const TsDemux::Picture &picture) {
        const int index = ScreenClip::indexOf(picture.image);
        if (index < 0 || picture.luma.isNull()) {
            ++quality.unreadable;
            return true;
        }
        const double score = psnr(shownLuma(picture), clip.frame(index));
        sum += score;
        quality.lowestPsnr = std::min(quality.lowestPsnr, score);
        ++quality.scored;
        return true;
    });
    quality.meanPsnr = quality.scored ? sum / quality.scored : 0;
    if (!quality.scored)
        quality.lowestPsnr = 0;
    return quality;
}

SettleQuality scoreSettling(const TsDemux &video, const ScreenClip &clip,
                            const QVector<double> &afterSeconds)
{
    struct Shown
    {
        qint64 pts;
        int index;
        double psnr; // of the still page only
    };
    const QImage still = clip.frame(ScreenClip::settleStillFrame);
    QVector<Shown> shown;
    video.decodeVideo([&](const TsDemux::Picture &picture) {
        const int index = ScreenClip::indexOf(picture.image);
        const bool isStill = index == ScreenClip::settleStillFrame && !picture.luma.isNull();
        shown.append({picture.pts, index, isStill ? psnr(shownLuma(picture), still) : 0});
        return true;
    });
    SettleQuality quality;
    quality.meanPsnr.fill(0, afterSeconds.size());
    for (int i = 1; i < shown.size(); ++i) {
        // A spell starts with the first picture of the still page after one of the motion.
        const int before = shown[i - 1].index;
        if (shown[i].index != ScreenClip::settleStillFrame ||
            before < ScreenClip::settleMotionFirst || before >= ScreenClip::settleStillFrame)
            continue;
        const qint64 start = shown[i].pts;
        QVector<double> scores;
        int last = i;
        for (const double after : afterSeconds) {
            const qint64 at = start + qint64(after * 90000);
            while (last + 1 < shown.size() && shown[last + 1].pts <= at)
                ++last;
            // Held in full: the still page was on screen to the end, and the stream went on.
            if (last + 1 >= shown.size() || shown[last].index != ScreenClip::settleStillFrame)
                break;
            scores.append(shown[last].psnr);
        }
        if (scores.size() < afterSeconds.size())
            continue;
        for (int k = 0; k < scores.size(); ++k)
            quality.meanPsnr[k] += scores[k];
        ++quality.spells;
        for (int k = i; k < shown.size() && shown[k].index == ScreenClip::settleStillFrame; ++k)
            ++quality.pictures;
    }
    for (double &sum : quality.meanPsnr)
        sum = quality.spells ? sum / quality.spells : 0;
    return quality;
}
