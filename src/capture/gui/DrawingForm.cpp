#include "capture/gui/DrawingForm.h"

#include "capture/OverlayGeometry.h"
#include "capture/gui/ResizeWidget.h"
#include "capture/gui/SeeThroughShape.h"
#include "capture/gui/WidgetGlue.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int kOutlineWidth = 7;
constexpr int kFillAlpha = 10;
} // namespace

DrawingForm::DrawingForm(QWidget *parent)
    : QWidget(parent), m_handle(std::make_unique<ResizeWidget>())
{
    setObjectName("DrawingForm");
    setWindowTitle("Form");
    resize(530, 530);
    setMinimumSize(50, 50);
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowSystemMenuHint |
                   Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setMouseTransparent(true);
    m_inputTransparent = false;

    m_image = QImage(size(), QImage::Format_RGBA8888);
    m_image.fill(Qt::transparent);
    m_glue = new WidgetGlue(this, m_handle.get(), QPoint(width(), height()));
    m_shape = new SeeThroughShape(this);
    connect(m_handle.get(), &ResizeWidget::click, this, &DrawingForm::onHandleClick);
    connect(m_handle.get(), &ResizeWidget::mouseMove, this, &DrawingForm::onHandleMove);
    connect(m_handle.get(), &ResizeWidget::resizeFinished, this, &DrawingForm::newSize);
    updateShape();
}

DrawingForm::~DrawingForm() = default;

void DrawingForm::setMouseTransparent(bool transparent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents, transparent);
    setWindowFlag(Qt::WindowTransparentForInput, transparent);
}

void DrawingForm::switchMouseMode()
{
    setMouseTransparent(m_inputTransparent);
    m_inputTransparent = !m_inputTransparent;
    if (!isVisible())
        show();
    updateShape();
}

bool DrawingForm::takesMouse() const
{
    return !testAttribute(Qt::WA_TransparentForMouseEvents) &&
           !windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void DrawingForm::clearDrawing()
{
    m_image.fill(Qt::transparent);
    update();
    updateShape();
}

void DrawingForm::setHandleLocked(bool locked)
{
    m_handle->setLocked(locked);
}

void DrawingForm::paintOutline(QPainter &painter, const QBrush &fill) const
{
    painter.setPen(QPen(Qt::lightGray, kOutlineWidth, Qt::DashLine));
    painter.setBrush(fill);
    painter.drawRect(rect());
}

void DrawingForm::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect dirty = event->rect();
    const QImage &still = m_shape->still();
    if (!still.isNull())
        painter.drawImage(dirty, still, dirty);
    painter.drawImage(dirty, m_image, dirty);
    paintOutline(painter, QColor(255, 255, 255, kFillAlpha));
}

void DrawingForm::updateShape()
{
    // What the window draws, less the faint fill that only a composing desktop can show.
    QImage drawn(size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    QPainter painter(&drawn);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(0, 0, m_image);
    paintOutline(painter, Qt::NoBrush);
    painter.end();
    m_shape->update(drawn, takesMouse());
}

void DrawingForm::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_lastPoint = event->pos();
    m_drawing = true;
}

void DrawingForm::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && m_drawing)
        drawLineTo(event->pos());
}

void DrawingForm::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_drawing)
        return;
    drawLineTo(event->pos());
    m_drawing = false;
}

void DrawingForm::drawLineTo(QPoint end)
{
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_penColor, m_penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(m_lastPoint, end);
    update(OverlayGeometry::strokeBounds(m_lastPoint, end, m_penWidth));
    m_lastPoint = end;
}

void DrawingForm::onHandleClick(bool pressed)
{
    m_resizing = pressed;
    if (pressed)
        return;
    m_image = OverlayGeometry::resizedLayer(m_image, size());
    update();
    // The handle moved by the pointer's way, which overshoots where the minimum size stopped
    // the frame.
    m_glue->placeFollower();
    updateShape();
}

void DrawingForm::onHandleMove(QPoint displacement)
{
    if (m_resizing)
        resize(width() + displacement.x(), height() + displacement.y());
}

void DrawingForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // While the handle is dragged the drawing stays whole; the release cuts it.
    if (!m_resizing)
        m_image = OverlayGeometry::resizedLayer(m_image, size());
    m_glue->setOffset(QPoint(width(), height()));
    updateShape();
}

void DrawingForm::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    m_shape->windowMoved();
}
