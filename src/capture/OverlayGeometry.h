#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

// The arithmetic of the screen-area overlay, apart from its windows.
namespace OverlayGeometry {

// The frame's border (its dashed outline) that is not part of the capture area, in pixels.
constexpr int kBorder = 5;

// The capture area of a frame at `frameGeometry` (global desktop coordinates): the frame less
// kBorder pixels on every side.
QRect captureArea(const QRect &frameGeometry);

// What a stroke segment from `from` to `to` drawn with a round pen of `penWidth` touches, with
// a margin for antialiasing.
QRect strokeBounds(QPoint from, QPoint to, int penWidth);

// The drawing layer for a frame of the new `size`: transparent, with `layer` kept at the top left
// and whatever lies beyond the new size cut off.
QImage resizedLayer(const QImage &layer, QSize size);

} // namespace OverlayGeometry
