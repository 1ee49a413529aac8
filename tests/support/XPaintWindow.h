#pragma once

#include <QImage>
#include <QRect>
#include <QString>

typedef struct xcb_connection_t xcb_connection_t;

// A window on a (private) X server that a test paints with known content, through a
// connection of its own. Every paint returns once the server has drawn it, so the test knows
// when the screen changed. One thread at a time.
class XPaintWindow
{
public:
    XPaintWindow() = default;
    XPaintWindow(const XPaintWindow &) = delete;
    XPaintWindow &operator=(const XPaintWindow &) = delete;
    ~XPaintWindow();

    // Shows a borderless window at `rect` (desktop coordinates) on `display`.
    bool open(const QString &display, const QRect &rect, QString *error);
    void fill(QRgb colour);
    // Fills only `part` (window coordinates), as a small drawing would.
    void fill(QRgb colour, const QRect &part);
    // `image` is drawn at the window's top left; RGB32 is used as is.
    void paint(const QImage &image);

    QRect rect() const { return m_rect; }

private:
    void sync();

    xcb_connection_t *m_conn = nullptr;
    uint32_t m_window = 0;
    uint32_t m_gc = 0;
    QRect m_rect;
};
