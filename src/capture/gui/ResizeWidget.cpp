#include "capture/gui/ResizeWidget.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int kSide = 16;
}

ResizeWidget::ResizeWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName("ResizeWidget");
    setWindowTitle("Form");
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    setFixedSize(kSide, kSide);
    setAutoFillBackground(false);
    setCursor(Qt::SizeFDiagCursor);
}

void ResizeWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::gray);
}

void ResizeWidget::mousePressEvent(QMouseEvent *event)
{
    m_grab = event->pos();
    emit click(true);
    m_pressed = true;
}

void ResizeWidget::mouseReleaseEvent(QMouseEvent *)
{
    emit click(false);
    m_pressed = false;
    emit resizeFinished();
}

void ResizeWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_locked || !m_pressed)
        return;
    // The handle moves with the pointer, so the grab point stays under it.
    const QPoint displacement = event->pos() - m_grab;
    emit mouseMove(displacement);
    move(pos() + displacement);
}
