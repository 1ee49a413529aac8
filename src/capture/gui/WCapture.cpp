#include "capture/gui/WCapture.h"

#include "capture/OverlayGeometry.h"
#include "capture/gui/DrawingForm.h"
#include "capture/gui/WidgetGlue.h"
#include "ui_WCapture.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

WCapture::WCapture(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::WCapture>()),
      m_frame(std::make_unique<DrawingForm>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_StyledBackground);
    setFocusPolicy(Qt::ClickFocus);
    fillScreens();

    m_glue = new WidgetGlue(this, m_frame.get(), QPoint(0, height()));
    connect(m_frame.get(), &DrawingForm::newSize, this, &WCapture::reportArea);

    // First shown in the middle of the main screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        const QSize whole(width(), height() + m_frame->height());
        move(available.center() - QPoint(whole.width() / 2, whole.height() / 2));
    }
}

WCapture::~WCapture() = default;

void WCapture::fillScreens()
{
    const int count = int(QGuiApplication::screens().size());
    ui->cmbScreens->setVisible(count >= 2);
    if (count < 2)
        return;
    for (int i = 0; i < count; ++i)
        ui->cmbScreens->addItem(tr("Screen %1").arg(i), i);
}

QRect WCapture::captureArea() const
{
    return OverlayGeometry::captureArea(m_frame->geometry());
}

void WCapture::reportArea()
{
    emit onNewPosition(captureArea());
}

void WCapture::on_drawButton_clicked()
{
    m_frame->switchMouseMode();
}

void WCapture::on_clearButton_clicked()
{
    m_frame->clearDrawing();
}

void WCapture::on_cmdLock_toggled(bool checked)
{
    m_movable = !checked;
    m_frame->setHandleLocked(checked);
}

void WCapture::on_cmdClose_clicked()
{
    hide();
}

void WCapture::on_cmbScreens_currentIndexChanged(int index)
{
    m_screenIndex = index;
    reportArea();
}

void WCapture::mousePressEvent(QMouseEvent *event)
{
    // Grabbed at the press, so the panel follows the pointer from its first move on.
    if (m_movable)
        m_dragStart = event->pos();
}

void WCapture::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_movable)
        return;
    if (!m_dragStart)
        m_dragStart = event->pos();
    move(pos() + event->pos() - *m_dragStart);
}

void WCapture::mouseReleaseEvent(QMouseEvent *)
{
    if (!m_movable)
        return;
    m_dragStart.reset();
    reportArea();
}
