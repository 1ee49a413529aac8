#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <memory>
#include <optional>

class DrawingForm;
class WidgetGlue;

namespace Ui {
class WCapture;
}

// The screen-area selector's control panel: a slim bar with Draw, Clear, Close, Lock and (with
// several screens) a screen chooser. Below it hangs the capture frame (DrawingForm), which
// moves with the panel when the panel is dragged. Reports the capture area, the frame less its
// border in global desktop coordinates, whenever the presenter finishes moving or resizing it
// or picks another screen. A parentless window; GUI thread only.
class WCapture : public QWidget
{
    Q_OBJECT
public:
    explicit WCapture(QWidget *parent = nullptr);
    ~WCapture() override;

    QRect captureArea() const;
    // The screen chosen in the panel (0 with one screen), which the capture takes the area on.
    int screenIndex() const { return m_screenIndex; }
    DrawingForm *frame() const { return m_frame.get(); }

signals:
    void onNewPosition(QRect rect);

private slots:
    void on_drawButton_clicked();
    void on_clearButton_clicked();
    void on_cmdLock_toggled(bool checked);
    void on_cmdClose_clicked();
    void on_cmbScreens_currentIndexChanged(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void fillScreens();
    void reportArea();

    int m_screenIndex = 0;
    std::unique_ptr<Ui::WCapture> ui;
    // Where the panel was grabbed, in panel coordinates, while a drag is in progress.
    std::optional<QPoint> m_dragStart;
    std::unique_ptr<DrawingForm> m_frame;
    WidgetGlue *m_glue = nullptr;
    bool m_movable = true;
};
