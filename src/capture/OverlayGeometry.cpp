#include "capture/OverlayGeometry.h"

#include <QPainter>

namespace OverlayGeometry {

QRect captureArea(const QRect &frameGeometry)
{
    return frameGeometry.adjusted(kBorder, kBorder, -kBorder, -kBorder);
}

QRect strokeBounds(QPoint from, QPoint to, int penWidth)
{
    const int margin = penWidth / 2 + 2;
    return QRect(from, to).normalized().adjusted(-margin, -margin, margin, margin);
}

QImage resizedLayer(const QImage &layer, QSize size)
{
    QImage resized(size, layer.format());
    resized.fill(Qt::transparent);
    QPainter painter(&resized);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, layer);
    return resized;
}

} // namespace OverlayGeometry
