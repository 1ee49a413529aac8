#pragma once

#include "app/SourceShortcuts.h"
#include "capture/media/IMFFactory.h"
#include "session/SessionPorts.h"
#include "session/SessionStats.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QVector>

#include <memory>

class QComboBox;
class QMenu;
class QSettings;
class QTimer;
class QCheckBox;
class QToolButton;
class ISquiz;
class QuizPlayWindow;
class QuestionsWindow;
struct QuizInfo;
class StatusBarWidget;
class RandomGame;
class StudioSession;
class VoteDlg;
class WCapture;
class ZoomQRW;
struct SessionChoices;

namespace CaptureSources {
struct Choice;
struct Item;
} // namespace CaptureSources

namespace Ui {
class MainWindow;
}

// The studio's one window, the view of the streaming session: it fills the source, preset,
// address and server lists, restores and hands over the presenter's choices, starts and stops
// the session and shows its statistics. Nothing listens on the network until the presenter
// presses Start. GUI thread only.
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
    VoteDlg *voteWindow() const { return m_voteDlg.get(); }
    RandomGame *randomGameWindow() const { return m_randomGame.get(); }
    ZoomQRW *zoomQRWindow() const { return m_zoomQR.get(); }
    // The window of the quiz being played live, null when none is open.
    QuizPlayWindow *quizPlayWindow() const;
    // The Questions window once opened, else null.
    QuestionsWindow *questionsWindow() const;
    // Opens the play window of `quiz` (closing an earlier one); once started, its messages go
    // to the viewers of the relay and their answers come back.
    void playQuiz(const QuizInfo &quiz);
    bool isRunning() const;
    WCapture *areaSelector() const { return m_wcapture.get(); }
    bool cloudMode() const;
    // The viewer pages beside the executable.
    static QString getWEBDir();

    // The Start/Stop tool button: starts a session when idle, stops it when running.
    void on_cmdStart_clicked();
    // The cloud relay gave up reconnecting: tell the presenter, then stop the session.
    void onReconnectFailed();
    // One statistics tick; with `fake` every value reads 0.
    void onStatTimer(bool fake);
    void onStatTimer();
    void onVoteTriggered();
    void onRandomWinnerTriggered();
    // Shows the current viewer address as a large QR code.
    void on_ZoomQR();
    // The "Quizzes" tool button: the quiz list window, made on the first call.
    void onSquizTriggered();
    void onQuestionsTriggered();
    // The questions menu.
    void on_exportToJSON();
    void on_exportToFile();
    void on_clearDatabaze();

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
    void on_cmdQActions_clicked();

private:
    void buildToolBar();
    void buildQuestionsMenu();
    // Returns the items as filled, before their texts were padded.
    QVector<CaptureSources::Item> fillVideoSources();
    void fillAudioSources();
    void fillPresets();
    void restoreIndices(const SessionChoices &saved);
    // Refills the server list; the first item becomes current unless `keepChoice` and the
    // current server is still offered.
    void fillCloudServers(bool keepChoice);
    void setCloudMode(bool on);
    void updateLinks();
    // The viewer address, or empty after telling the presenter in the status bar that there is
    // none to hand out yet.
    QString viewerUrlToHandOut();
    CaptureSources::Choice currentChoice() const;
    void applySources();
    void showAreaSelector();
    bool screenAreaChosen() const;
    void startSession();
    void stopSession();
    void setSessionControlsEnabled(bool enabled);
    void showSourceWarning();

    std::unique_ptr<Ui::MainWindow> ui;
    QStringList m_interfaces;
    std::unique_ptr<WCapture> m_wcapture;
    std::unique_ptr<QTimer> m_statTimer;
    std::unique_ptr<ZoomQRW> m_zoomQR;
    std::unique_ptr<RandomGame> m_randomGame;
    // The settings store and the session live as long as the window, which is the life of the
    // process; they are parentless so no widget owns them. The voting window shows the
    // session's vote, so it goes first.
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<StudioSession> m_session;
    std::unique_ptr<VoteDlg> m_voteDlg;
    std::unique_ptr<ISquiz> m_squiz;
    QPointer<QuizPlayWindow> m_quizPlay;
    QPointer<QuestionsWindow> m_questionsWindow;
    QToolButton *m_startButton = nullptr;
    QComboBox *m_cmbCodec = nullptr;  // beside the bitrate; not in the form
    QCheckBox *m_recordBox = nullptr; // "Record", beside Start
    StatusBarWidget *m_statusBarWidget = nullptr;
    // While streaming: how often the status bar looks whether the sources still deliver.
    QTimer *m_sourceCheckTimer = nullptr;
    QMenu *m_questionsMenu = nullptr;
    SourceShortcuts m_sourceShortcuts;
    // The list's own selection while it is filled is no choice of the presenter's.
    bool m_fillingVideoSources = false;
    bool m_serversReady = false;
    SessionStats m_stats;
};
