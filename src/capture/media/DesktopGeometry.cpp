#include "capture/media/DesktopGeometry.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <xcb/xcb.h>

QRect x11DesktopRect(const QByteArray &display)
{
    int screenNumber = 0;
    xcb_connection_t *conn =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    QRect rect;
    if (!xcb_connection_has_error(conn)) {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
        for (int i = 0; it.rem && i < screenNumber; ++i)
            xcb_screen_next(&it);
        if (it.rem)
            rect = QRect(0, 0, it.data->width_in_pixels, it.data->height_in_pixels);
    }
    xcb_disconnect(conn);
    return rect;
}

QList<QRect> guiScreenRects()
{
    QList<QRect> rects;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ||
        QThread::currentThread() != QCoreApplication::instance()->thread() ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return rects;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        rects.append(QRect(int(g.x() * ratio), int(g.y() * ratio), int(g.width() * ratio),
                           int(g.height() * ratio)));
    }
    return rects;
}

bool waylandDesktop()
{
    return !qgetenv("WAYLAND_DISPLAY").isEmpty() || qgetenv("XDG_SESSION_TYPE") == "wayland";
}
