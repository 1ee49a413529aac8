#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>

class QWidget;

// Keeps a translucent overlay window see-through on a desktop that does not compose (an X
// server without a compositing manager shows "transparent" pixels as black, and whatever the
// screen capture grabs would show that too). There the window is cut to the pixels it really
// draws (an X shape), so the desktop below stays visible and live. A shaped window takes the
// mouse only on its drawn pixels, so while it must take the mouse everywhere it is whole again
// and shows a still picture of what lay below it, taken just before. On a composing desktop
// the window stays whole and nothing else happens. GUI thread only.
class SeeThroughShape : public QObject
{
    Q_OBJECT
public:
    // `window` is the overlay; the shape is a child of it.
    explicit SeeThroughShape(QWidget *window);

    // Call after what the window draws changed: `drawn` is that, at the window's size, with
    // everything not drawn fully transparent. `takesMouse`: the window must take every click.
    void update(const QImage &drawn, bool takesMouse);
    // Call after the window moved: a still picture is of the old place.
    void windowMoved();

    // What lay below the window while it takes the mouse on a desktop that does not compose;
    // null otherwise.
    const QImage &still() const { return m_still; }

private:
    void cutTo(const QImage &drawn);
    void takeStill();

    QWidget *m_window;
    QImage m_drawn;
    bool m_takesMouse = false;
    QImage m_still;
    // What lies below a window whose shape just changed is repainted by its own program, some
    // time later.
    QTimer m_settle;
};
