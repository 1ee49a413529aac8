#include "audience/gui/ZoomQRW.h"

#include "audience/QRImage.h"
#include "ui_ZoomQRW.h"

#include <QDebug>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPixmap>

ZoomQRW::ZoomQRW(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::ZoomQRW>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
}

ZoomQRW::~ZoomQRW() = default;

void ZoomQRW::showQR(const QString &text)
{
    m_text = text;
    QString errorText;
    const QImage image =
        QRImage::makeQRImage(QSize(QRImage::kImageSide, QRImage::kImageSide), text, &errorText);
    if (image.isNull()) {
        qWarning() << "QR code not made:" << errorText;
        ui->lblPreview->setPixmap(QPixmap());
        ui->lblPreview->setAlignment(Qt::AlignCenter);
        ui->lblPreview->setWordWrap(true);
        ui->lblPreview->setText(tr("This address cannot be shown as a QR code: %1").arg(errorText));
    } else {
        ui->lblPreview->setPixmap(QPixmap::fromImage(image));
        ui->lblPreview->setScaledContents(true);
    }
    showNormal();
    raise();
}

void ZoomQRW::on_cmdSave_clicked()
{
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("Save Image File"), QString(), tr("Images (*.png)"));
    if (!fileName.isEmpty())
        saveTo(fileName);
}

bool ZoomQRW::saveTo(const QString &fileName)
{
    const QString target = QRImage::withPngSuffix(fileName);
    QString errorText;
    if (QRImage::saveQRImage(target, m_text, &errorText))
        return true;
    qWarning() << "QR code not saved to" << target << ":" << errorText;
    QMessageBox::warning(this, tr("Error"),
                         tr("The QR code could not be saved to %1: %2").arg(target, errorText));
    return false;
}

bool ZoomQRW::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // The layout sets the preview's geometry again whenever it is asked to (a new picture does
    // that); the square must win.
    if (event->type() == QEvent::LayoutRequest)
        placePreview();
    return handled;
}

void ZoomQRW::keyPressEvent(QKeyEvent *event)
{
    qDebug() << "keyEvent";
    if (event->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}

void ZoomQRW::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placePreview();
}

void ZoomQRW::placePreview()
{
    ui->lblPreview->setGeometry(QRImage::previewSquare(size(), ui->cmdSave->height()));
}
