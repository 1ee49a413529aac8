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
        const QImage shown =
            picture.luma.size() == ScreenClip::size
                ? picture.luma
                : picture.luma
                      .scaled(ScreenClip::size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_Grayscale8);
        const double score = psnr(shown, clip.frame(index));
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
