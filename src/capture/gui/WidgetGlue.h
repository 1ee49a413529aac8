#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

class QWidget;

// Ties a follower window to an owner window: it appears when the owner is shown (at `offset`
// from the owner's top left), hides and closes with it, and moves with it. The glue is a child
// of the owner and watches the owner's events. GUI thread only.
class WidgetGlue : public QObject
{
    Q_OBJECT
public:
    WidgetGlue(QWidget *owner, QWidget *follower, QPoint offset);

    QPoint offset() const { return m_offset; }
    void setOffset(QPoint offset) { m_offset = offset; }
    // Puts the follower at its place now (after the owner changed size, say).
    void placeFollower();

signals:
    void sigShow();

public slots:
    void onShow();
    void onHide();
    void onMove(QPoint pos);
    void onClose();
    void afterShow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_owner;
    // The follower may be destroyed before the owner's last events.
    QPointer<QWidget> m_follower;
    QPoint m_offset;
};
