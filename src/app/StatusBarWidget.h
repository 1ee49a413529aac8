#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

class StudioSession;

namespace Ui {
class StatusBarWidget;
}

// The bottom line of the main window: the program's version on the left, the help link on the
// right, and between them a message: a warning that stays until it is withdrawn (a capture
// source that fails), or for a while a notice (a file written).
class StatusBarWidget : public QWidget
{
    Q_OBJECT
public:
    // `text` follows the version after four spaces.
    StatusBarWidget(QString text, QWidget *parent);
    ~StatusBarWidget() override;

    // Shows `text` as a warning until it is replaced; the empty text withdraws it.
    void setWarning(const QString &text);
    // Shows `text` for `timeoutMs`, over a warning, which comes back afterwards.
    void showNotice(const QString &text, int timeoutMs);
    // What the message place shows now.
    QString message() const;
    // The recording's place: its figures while it runs, then the file it made (with a button
    // that opens the file's folder) or why it stopped. The empty text clears it.
    void setRecording(const QString &text, const QString &file = QString());
    QString recordingText() const;
    // Shows the session's recording from now on: its figures at each `tick` while it runs,
    // the remux's progress, then the file or why it stopped. Both must outlive the widget.
    void followRecording(const StudioSession *session, const QTimer *tick);

    static constexpr int kNoticeMs = 8000;
    static constexpr const char *kVersion = "ver 1.5 (build 42)";
    static constexpr const char *kHelpUrl = "https://lumacast.quillfen.com/help";

private:
    void showMessage();

    std::unique_ptr<Ui::StatusBarWidget> ui;
    QString m_warning;
    QString m_notice;
    QTimer m_noticeTimer;
    QString m_recordedFile;
};
