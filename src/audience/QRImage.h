#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

// The viewer address as a QR code picture (qrcodegen, error correction level HIGH), and the
// geometry of its zoom window. No widgets; GUI thread only (QImage painting and saving).
namespace QRImage {

// The side of the image that is shown and saved.
constexpr int kImageSide = 500;

// An RGB32 image of `size`: white, with a solid black square of side min(width, height) / (n + 2)
// for every dark module of the n-module symbol, one module of white margin, the symbol at the
// top left. A null image when the text does not fit in a QR code; errorText then says why.
QImage makeQRImage(const QSize &size, const QString &text, QString *errorText = nullptr);

// fileName, with ".png" added when it has no suffix (the image format follows the suffix).
QString withPngSuffix(const QString &fileName);

// Writes the kImageSide square image of `text` to fileName in the format its suffix names. On
// failure returns false, sets errorText (not null) to the reason and leaves any earlier file.
bool saveQRImage(const QString &fileName, const QString &text, QString *errorText);

// Where the zoom window puts its preview: a square as tall as the window less the button row
// and 30 pixels, at most as wide as the window, centred horizontally, 10 pixels from the top.
QRect previewSquare(const QSize &window, int buttonHeight);

} // namespace QRImage
