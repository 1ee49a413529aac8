#pragma once

#include "app/AudienceWindows.h"
#include "capture/media/IMFFactory.h"
#include "session/SessionPorts.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>

class CloudServerPicker;
class QCheckBox;
class QComboBox;
class QSettings;
class QTimer;
class QToolButton;
class SourcePicker;
class StatusBarWidget;
class StudioSession;
class WCapture;
struct SessionChoices;

namespace Ui {
class MainWindow;
}

// The studio's one window, the view of the streaming session: it shows the source, preset,
// address and server lists with the choices the session saved, hands the presenter's choices
// and actions to the session, and shows its addresses and statistics. Nothing listens on the
// network until the presenter presses Start. GUI thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    // For tests: capture devices and encoder writers come from `captureFactory` instead of the
    // process's back end, and the session listens on `ports`.
    explicit MainWindow(MFFactoryPtr captureFactory, SessionPorts ports = {},
                        QWidget *parent = nullptr);
    // Ends a running session (the capture thread is joined) before anything is destroyed.
    ~MainWindow() override;

    QSettings *settings() const { return m_settings.get(); }
    StudioSession *session() const { return m_session.get(); }
    VoteDlg *voteWindow() const { return m_audience->vote(); }
    RandomGame *randomGameWindow() const { return m_audience->randomGame(); }
    ZoomQRW *zoomQRWindow() const { return m_audience->zoomQR(); }
    // The window of the quiz being played live, null when none is open.
    QuizPlayWindow *quizPlayWindow() const { return m_audience->quizPlay(); }
    // The Questions window once opened, else null.
    QuestionsWindow *questionsWindow() const { return m_audience->questions(); }
    // Opens the play window of `quiz` (closing an earlier one); once started, the session plays
    // it to the viewers.
    void playQuiz(const QuizInfo &quiz) { m_audience->playQuiz(quiz); }
    bool isRunning() const;
    WCapture *areaSelector() const { return m_wcapture.get(); }
    bool cloudMode() const;

    // The Start/Stop tool button: starts a session when idle, stops it when running.
    void on_cmdStart_clicked();
    // The cloud relay gave up reconnecting: tell the presenter, then stop the session.
    void onReconnectFailed();
    // One statistics tick; with `fake` every value reads 0.
    void onStatTimer(bool fake);
    void onStatTimer() { onStatTimer(false); }
    void onVoteTriggered() { m_audience->showVote(); }
    void onRandomWinnerTriggered() { m_audience->showRandomGame(); }
    // Shows the current viewer address as a large QR code.
    void on_ZoomQR();
    // The "Quizzes" tool button: the quiz list window, made on the first call.
    void onSquizTriggered() { m_audience->showQuizzes(); }
    void onQuestionsTriggered() { m_audience->showQuestions(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_cmdRefresh_clicked();
    void on_cmbVideoSources_currentIndexChanged(QString arg1);
    void on_cmbAudioSources_currentIndexChanged(QString arg1);
    void on_cmbFrames_currentIndexChanged(int index);
    void on_maxAudioLag_valueChanged(double arg1);
    void on_spbPort_valueChanged(int arg1);
    void on_cmbNetwork_currentIndexChanged(int index);
    void on_chkCloud_clicked(bool checked);
    void on_cmdCopyURL_clicked();
    void on_cmbCloudServer_currentIndexChanged(int index);

private:
    void fillPresets();
    void restoreIndices(const SessionChoices &saved);
    void setCloudMode(bool on);
    void updateLinks();
    // The viewer address, or empty after telling the presenter in the status bar that there is
    // none to hand out yet.
    QString viewerUrlToHandOut();
    void startSession();
    void stopSession();
    void setSessionControlsEnabled(bool enabled);
    void showSourceWarning();

    std::unique_ptr<Ui::MainWindow> ui;
    std::unique_ptr<WCapture> m_wcapture;
    std::unique_ptr<QTimer> m_statTimer;
    // The settings store and the session live as long as the window, which is the life of the
    // process; they are parentless so no widget owns them. The audience's windows show parts of
    // the session, so they go first.
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<StudioSession> m_session;
    std::unique_ptr<AudienceWindows> m_audience;
    std::unique_ptr<SourcePicker> m_sources;
    std::unique_ptr<CloudServerPicker> m_servers;
    QToolButton *m_startButton = nullptr;
    QComboBox *m_cmbCodec = nullptr;  // beside the bitrate; not in the form
    QCheckBox *m_recordBox = nullptr; // "Record", beside Start
    StatusBarWidget *m_statusBarWidget = nullptr;
    // While streaming: how often the status bar looks whether the sources still deliver.
    QTimer *m_sourceCheckTimer = nullptr;
};
