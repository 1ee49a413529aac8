#include "app/StatusBarWidget.h"

#include "app/LinkLabel.h"
#include "record/Recorder.h"
#include "record/RecordingStatus.h"
#include "session/StudioSession.h"
#include "ui_StatusBarWidget.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

StatusBarWidget::StatusBarWidget(QString text, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::StatusBarWidget>())
{
    ui->setupUi(this);
    ui->lblVersion->setText(QString(kVersion) + "    " + text);
    ui->lblVersion->setStyleSheet("font-weight:bold;");
    LinkLabel::showLink(ui->lblHelp, kHelpUrl, "help &raquo;");
    m_noticeTimer.setSingleShot(true);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        m_notice.clear();
        showMessage();
    });
    connect(ui->cmdOpenRecordingFolder, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_recordedFile).absolutePath()));
    });
}

void StatusBarWidget::setRecording(const QString &text, const QString &file)
{
    m_recordedFile = file;
    ui->lblRecording->setText(text);
    ui->lblRecording->setToolTip(file);
    ui->cmdOpenRecordingFolder->setVisible(!file.isEmpty());
}

QString StatusBarWidget::recordingText() const
{
    return ui->lblRecording->text();
}

void StatusBarWidget::setWarning(const QString &text)
{
    m_warning = text;
    showMessage();
}

void StatusBarWidget::showNotice(const QString &text, int timeoutMs)
{
    m_notice = text;
    m_noticeTimer.start(timeoutMs);
    showMessage();
}

QString StatusBarWidget::message() const
{
    return ui->lblMessage->text();
}

void StatusBarWidget::showMessage()
{
    const bool notice = !m_notice.isEmpty();
    ui->lblMessage->setText(notice ? m_notice : m_warning);
    // The place may be narrower than the text.
    ui->lblMessage->setToolTip(ui->lblMessage->text());
    // Amber for trouble on stage, the bar's own white for news.
    ui->lblMessage->setStyleSheet(notice ? "font-weight:bold;" : "font-weight:bold;color:#FFB020;");
}

StatusBarWidget::~StatusBarWidget() = default;

void StatusBarWidget::followRecording(const StudioSession *session, const QTimer *tick)
{
    Recorder *recorder = session->recorder();
    connect(tick, &QTimer::timeout, this, [this, recorder] {
        if (recorder->state() == Recorder::State::Recording)
            setRecording(RecordingStatus::text(recorder->durationMs(), recorder->bytesWritten()));
    });
    connect(session, &StudioSession::recordingStopped, this,
            [this](const QString &message) { setRecording(message); });
    connect(recorder, &Recorder::remuxProgress, this, [this](int percent) {
        setRecording(tr("Finishing the recording: %1 %").arg(percent));
    });
    connect(recorder, &Recorder::finished, this, [this](const QString &path) {
        setRecording(tr("Recorded: %1").arg(QFileInfo(path).fileName()), path);
    });
    connect(recorder, &Recorder::finishFailed, this,
            [this](const QString &message, const QString &kept) {
                setRecording(tr("Recording kept as %1 (not finished: %2)")
                                 .arg(QFileInfo(kept).fileName(), message),
                             kept);
            });
}
