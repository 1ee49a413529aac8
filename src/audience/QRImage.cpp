#include "audience/QRImage.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <qrcodegen/qrcodegen.hpp>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace QRImage {

QImage makeQRImage(const QSize &size, const QString &text, QString *errorText)
{
    using qrcodegen::QrCode;
    // encodeText reads a C string: cut at a NUL it would silently encode less than was asked.
    if (text.contains(QChar::Null)) {
        if (errorText)
            *errorText = "a NUL character cannot be encoded";
        return QImage();
    }
    const QByteArray utf8 = text.toUtf8();
    std::optional<QrCode> symbol;
    try {
        symbol.emplace(QrCode::encodeText(utf8.constData(), QrCode::Ecc::HIGH));
    } catch (const std::length_error &error) {
        if (errorText)
            *errorText = QString("too long for a QR code (%1)").arg(error.what());
        return QImage();
    }

    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), Qt::white);
    const int n = std::max(symbol->getSize(), 1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 255));
    const double module = std::min(size.width(), size.height()) / double(n + 2);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (symbol->getModule(x, y))
                painter.drawRect(QRectF((x + 1) * module, (y + 1) * module, module, module));
    painter.end();
    return image;
}

QString withPngSuffix(const QString &fileName)
{
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + ".png" : fileName;
}

bool saveQRImage(const QString &fileName, const QString &text, QString *errorText)
{
    const QImage image = makeQRImage(QSize(kImageSide, kImageSide), text, errorText);
    if (image.isNull())
        return false;
    // Through a temporary file, so a failed write leaves no half picture and an earlier file
    // of the same name stays as it was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *errorText = file.errorString();
        return false;
    }
    QImageWriter writer(&file, QFileInfo(fileName).suffix().toLower().toLatin1());
    if (!writer.write(image)) {
        *errorText = writer.errorString();
        return false;
    }
    if (!file.commit()) {
        *errorText = file.errorString();
        return false;
    }
    return true;
}

QRect previewSquare(const QSize &window, int buttonHeight)
{
    const int side = std::max(0, std::min(window.height() - buttonHeight - 30, window.width()));
    return QRect(int((window.width() - side) * 0.5), 10, side, side);
}

} // namespace QRImage
