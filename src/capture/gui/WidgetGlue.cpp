#include "capture/gui/WidgetGlue.h"

#include <QMoveEvent>
#include <QWidget>

WidgetGlue::WidgetGlue(QWidget *owner, QWidget *follower, QPoint offset)
    : QObject(owner), m_owner(owner), m_follower(follower), m_offset(offset)
{
    // The owner's window has its final place only once its show has been handled.
    connect(this, &WidgetGlue::sigShow, this, &WidgetGlue::afterShow, Qt::QueuedConnection);
    owner->installEventFilter(this);
}

bool WidgetGlue::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_owner) {
        switch (event->type()) {
        case QEvent::Show:
            onShow();
            break;
        case QEvent::Hide:
            onHide();
            break;
        case QEvent::Close:
            onClose();
            break;
        case QEvent::Move:
            onMove(static_cast<QMoveEvent *>(event)->pos());
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WidgetGlue::placeFollower()
{
    if (m_follower)
        m_follower->move(m_owner->mapToGlobal(m_offset));
}

void WidgetGlue::onShow()
{
    emit sigShow();
}

void WidgetGlue::onHide()
{
    if (m_follower)
        m_follower->hide();
}

void WidgetGlue::onMove(QPoint pos)
{
    if (m_follower)
        m_follower->move(pos + m_offset);
}

void WidgetGlue::onClose()
{
    if (m_follower)
        m_follower->close();
}

void WidgetGlue::afterShow()
{
    // The owner may have been hidden again before this queued call arrived.
    if (!m_follower || !m_owner->isVisible())
        return;
    placeFollower();
    m_follower->show();
}
