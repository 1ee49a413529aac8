#pragma once

#include <QString>
#include <QWidget>
#include <memory>

namespace Ui {
class ZoomQRW;
}

// A large window with the viewer address as a QR code, for a projector or a photo, and a Save
// button for the same picture as a PNG file. Closing hides it. GUI thread only.
class ZoomQRW : public QWidget
{
    Q_OBJECT
public:
    explicit ZoomQRW(QWidget *parent = nullptr);
    ~ZoomQRW() override;

    // Shows the code of `text` (drawn afresh each time) in the window's normal state; when the
    // text cannot be encoded the window says so instead of showing a picture.
    void showQR(const QString &text);
    // The text last shown, which Save writes.
    const QString &text() const { return m_text; }
    // Writes the code on screen to fileName (".png" added when it has no suffix); a failed
    // write is reported in a warning box. Returns whether the file was written.
    bool saveTo(const QString &fileName);

public slots:
    // Asks for a file name and saves there; a cancelled dialog does nothing.
    void on_cmdSave_clicked();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placePreview();

    std::unique_ptr<Ui::ZoomQRW> ui;
    QString m_text;
};
