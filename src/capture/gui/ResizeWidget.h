#pragma once

#include <QWidget>

// The grey 16 x 16 handle at the capture frame's bottom-right corner. Dragging it reports how
// far the pointer went, which the frame turns into a new size; while locked it reports nothing
// but the press and release.
class ResizeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ResizeWidget(QWidget *parent = nullptr);

    bool isLocked() const { return m_locked; }
    void setLocked(bool locked) { m_locked = locked; }

signals:
    void resizeFinished();
    void click(bool pressed);
    // How far the pointer went since the press (or the last report), which is how far the
    // frame's corner should go.
    void mouseMove(QPoint pos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
    // Where the handle was grabbed, within it.
    QPoint m_grab;
    bool m_locked = false;
};
