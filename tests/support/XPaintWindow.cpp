#include "support/XPaintWindow.h"

#include <algorithm>
#include <cstdlib>
#include <xcb/xcb.h>

XPaintWindow::~XPaintWindow()
{
    if (m_conn)
        xcb_disconnect(m_conn);
}

bool XPaintWindow::open(const QString &display, const QRect &rect, QString *error)
{
    int screenNumber = 0;
    m_conn = xcb_connect(display.toLocal8Bit().constData(), &screenNumber);
    if (xcb_connection_has_error(m_conn)) {
        *error = QStringLiteral("cannot connect to X display %1").arg(display);
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_screen_t *screen = it.data;
    m_rect = rect;
    m_window = xcb_generate_id(m_conn);
    const uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(m_conn, XCB_COPY_FROM_PARENT, m_window, screen->root, int16_t(rect.x()),
                      int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    m_gc = xcb_generate_id(m_conn);
    xcb_create_gc(m_conn, m_gc, m_window, 0, nullptr);
    xcb_map_window(m_conn, m_window);
    sync();
    return true;
}

void XPaintWindow::sync()
{
    // A round trip: every request sent before it has been carried out when the reply comes.
    free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
}

void XPaintWindow::fill(QRgb colour)
{
    fill(colour, QRect(QPoint(), m_rect.size()));
}

void XPaintWindow::fill(QRgb colour, const QRect &part)
{
    const uint32_t pixel = colour & 0xffffff;
    xcb_change_gc(m_conn, m_gc, XCB_GC_FOREGROUND, &pixel);
    const xcb_rectangle_t rect{int16_t(part.x()), int16_t(part.y()), uint16_t(part.width()),
                               uint16_t(part.height())};
    xcb_poly_fill_rectangle(m_conn, m_window, m_gc, 1, &rect);
    sync();
}

void XPaintWindow::paint(const QImage &image)
{
    const QImage rgb = image.format() == QImage::Format_RGB32
                           ? image
                           : image.convertToFormat(QImage::Format_RGB32);
    const size_t maxBytes = size_t(xcb_get_maximum_request_length(m_conn)) * 4 - 64;
    const int stride = rgb.bytesPerLine();
    const int rowsPerRequest = std::max(1, int(maxBytes / size_t(stride)));
    for (int row = 0; row < rgb.height(); row += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, rgb.height() - row);
        xcb_put_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, uint16_t(rgb.width()),
                      uint16_t(rows), 0, int16_t(row), 0, 24, uint32_t(stride * rows),
                      rgb.constScanLine(row));
    }
    sync();
}
