#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <memory>

class ResizeWidget;
class SeeThroughShape;
class WidgetGlue;

// The capture frame: a translucent frameless window whose inside, less a 5-pixel border, is the
// capture area. It lets clicks through to the desktop until Draw makes it take the mouse; then
// the presenter draws freehand red marks on it, which the screen capture sees like any other
// window content. Its resize handle follows its bottom-right corner. GUI thread only.
class DrawingForm : public QWidget
{
    Q_OBJECT
public:
    explicit DrawingForm(QWidget *parent = nullptr);
    ~DrawingForm() override;

    // Draw: the first call makes the frame take the mouse, the next lets clicks through again,
    // and so on. Changing that hides the window, so it is shown again if need be.
    void switchMouseMode();
    bool takesMouse() const;
    void clearDrawing();
    void setHandleLocked(bool locked);

    // The drawing layer: window-sized, transparent where nothing is drawn.
    const QImage &drawing() const { return m_image; }
    ResizeWidget *handle() const { return m_handle.get(); }

signals:
    void newSize();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void setMouseTransparent(bool transparent);
    void drawLineTo(QPoint end);
    void onHandleClick(bool pressed);
    void onHandleMove(QPoint displacement);
    void paintOutline(QPainter &painter, const QBrush &fill) const;
    void updateShape();

    bool m_drawing = false;
    bool m_resizing = false;
    QPoint m_lastPoint;
    QImage m_image;
    QColor m_penColor = Qt::red;
    int m_penWidth = 5;
    std::unique_ptr<ResizeWidget> m_handle;
    WidgetGlue *m_glue = nullptr;
    SeeThroughShape *m_shape = nullptr;
    bool m_inputTransparent = false;
};
