#include "capture/media/ScreenRegion.h"

#include <QStringList>

namespace {

QRect parseArea(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return QRect();
    int edges[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        edges[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return QRect();
    }
    return QRect(QPoint(edges[0], edges[1]), QPoint(edges[2], edges[3]));
}

} // namespace

ScreenRegion ScreenRegion::fromProps(const QMap<QString, QString> &props,
                                     const QList<QRect> &screens, const QRect &desktop)
{
    ScreenRegion region;
    region.drawMouse = props.value(QStringLiteral("capture.highlight_mouse")) != "hide";
    region.keepAspect = props.value(QStringLiteral("capture.aspect_ratio")) == "keep";
    QRect wanted;
    if (props.value(QStringLiteral("capture.frame_size")) == "area")
        wanted = parseArea(props.value(QStringLiteral("capture.area")));
    if (!wanted.isValid()) {
        const int index = props.value(QStringLiteral("capture.screen_index")).toInt();
        wanted = index >= 0 && index < screens.size() ? screens[index] : desktop;
    }
    region.rect = wanted.intersected(desktop);
    return region;
}

QRect ScreenRegion::cropIn(const QRect &rect, const QRect &placement, QSize frame)
{
    const QRect part = rect.intersected(placement).translated(-placement.topLeft());
    if (part.isEmpty() || placement.isEmpty())
        return QRect();
    const double sx = double(frame.width()) / placement.width();
    const double sy = double(frame.height()) / placement.height();
    const QRect scaled(QPoint(int(part.left() * sx), int(part.top() * sy)),
                       QSize(int(part.width() * sx), int(part.height() * sy)));
    return scaled.intersected(QRect(QPoint(0, 0), frame));
}
