#include "capture/gui/SeeThroughShape.h"

#include "capture/DesktopCompositing.h"

#include <QBitmap>
#include <QDebug>
#include <QScreen>
#include <QWidget>

namespace {
constexpr int kSettleMs = 150;
}

SeeThroughShape::SeeThroughShape(QWidget *window) : QObject(window), m_window(window)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &SeeThroughShape::takeStill);
}

void SeeThroughShape::update(const QImage &drawn, bool takesMouse)
{
    m_drawn = drawn;
    m_takesMouse = takesMouse;
    m_still = QImage();
    m_settle.stop();
    if (desktopComposites()) {
        m_window->clearMask();
        return;
    }
    cutTo(drawn);
    if (takesMouse)
        m_settle.start();
}

void SeeThroughShape::windowMoved()
{
    if (m_takesMouse && !m_still.isNull())
        update(m_drawn, true);
}

void SeeThroughShape::cutTo(const QImage &drawn)
{
    const QBitmap shape = QBitmap::fromImage(drawn.createAlphaMask(Qt::ThresholdAlphaDither));
    // An empty mask would mean "no shape" to Qt, that is the whole window.
    if (QRegion(shape).isEmpty())
        m_window->setMask(QRegion(0, 0, 1, 1));
    else
        m_window->setMask(shape);
}

void SeeThroughShape::takeStill()
{
    QScreen *screen = m_window->screen();
    if (!screen || !m_window->isVisible())
        return;
    const QRect frame = m_window->geometry();
    const QPoint onScreen = frame.topLeft() - screen->geometry().topLeft();
    m_still =
        screen->grabWindow(0, onScreen.x(), onScreen.y(), frame.width(), frame.height()).toImage();
    if (m_still.isNull())
        qWarning() << "screen area overlay: cannot read the desktop below the frame";
    m_window->clearMask();
    m_window->update();
}
