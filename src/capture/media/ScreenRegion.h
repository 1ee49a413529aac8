#pragma once

#include <QList>
#include <QMap>
#include <QRect>
#include <QString>

// What the screen device grabs, derived from its string properties: "capture.screen_index"
// (index into `screens`), "capture.area" ("left,top,right,bottom" in desktop coordinates, edges
// included), "capture.frame_size" ("area" or "screen"), "capture.highlight_mouse" ("hide"
// leaves the pointer out) and "capture.aspect_ratio" ("keep" letterboxes on black).
struct ScreenRegion
{
    QRect rect; // within the desktop; empty when nothing of the request lies on it
    bool drawMouse = true;
    bool keepAspect = false;

    bool operator==(const ScreenRegion &o) const
    {
        return rect == o.rect && drawMouse == o.drawMouse && keepAspect == o.keepAspect;
    }
    bool operator!=(const ScreenRegion &o) const { return !(*this == o); }

    // `screens` are the screens' rectangles in the GUI's order (the whole desktop stands for
    // screen 0 when the list is empty); `desktop` is the X root window's rectangle.
    static ScreenRegion fromProps(const QMap<QString, QString> &props, const QList<QRect> &screens,
                                  const QRect &desktop);

    // The part of `rect` (desktop coordinates) in a picture of `frame` pixels that shows
    // `placement` of the desktop (a shared monitor: its position and logical size, which
    // differ from its pixels on scaled outputs). Empty when they do not meet.
    static QRect cropIn(const QRect &rect, const QRect &placement, QSize frame);
};
