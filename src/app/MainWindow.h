#pragma once

#include "app/SessionStats.h"
#include "capture/media/IMFFactory.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <vector>

class CaptureStreamer;
class DBStorage;
class NDISource;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;
class QSettings;
class QShortcut;
class QTimer;
class QToolButton;
class APIWebServer;
class VoteDlg;
class WCapture;
class WebServer;
class WSServer;

namespace CaptureSources {
struct Choice;
}

namespace Ui {
class MainWindow;
}

// The studio's one window. Its constructor builds every long-lived object in a fixed order;
// nothing listens on the network until the presenter presses Start. GUI thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    // For tests: capture devices and encoder writers come from `captureFactory` instead of the
    // process's back end.
    explicit MainWindow(MFFactoryPtr captureFactory, QWidget *parent = nullptr);
    // Ends a running session (the capture thread is joined) before anything is destroyed.
    ~MainWindow() override;

    QSettings *settings() const { return m_settings.get(); }
    WSServer *relayServer() const { return m_wsServer.get(); }
    WebServer *webServer() const { return m_webServer.get(); }
    APIWebServer *apiServer() const { return m_apiServer.get(); }
    DBStorage *questionStore() const { return m_storage.get(); }
    VoteDlg *voteWindow() const { return m_voteDlg.get(); }
    CaptureStreamer *captureStreamer() const { return m_streamer.get(); }
    WCapture *areaSelector() const { return m_wcapture.get(); }
    QToolButton *startButton() const { return m_startButton; }
    QMenu *questionsMenu() const { return m_questionsMenu; }
    bool isRunning() const { return m_running; }
    bool cloudMode() const { return m_cloudMode; }
    QString currentAddress() const { return m_ip; }
    int currentPort() const { return m_port; }
    const QStringList &publicServers() const { return m_publicServers; }

    // The address viewers open (local: this machine's address and port; cloud: the server with
    // this studio's room).
    QString viewerUrl();
    // Where the questions and vote pages are served, without a trailing slash.
    QString apiBaseUrl();
    QString roomId();
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
    void fillVideoSources();
    void fillAudioSources();
    void fillPresets();
    void restoreIndices();
    void requestPublicServers();
    void onPublicServersReply(QNetworkReply *reply);
    // Refills the server list; the first item becomes current unless `keepChoice` and the
    // current server is still offered.
    void fillCloudServers(bool keepChoice);
    void setCloudMode(bool on);
    void updateLinks();
    CaptureSources::Choice currentChoice() const;
    void applyChoice(const CaptureSources::Choice &choice);
    void applySources();
    void showAreaSelector();
    bool screenAreaChosen() const;
    bool startLocalServers();
    void startSession();
    void stopSession();
    void setSessionControlsEnabled(bool enabled);
    void saveSettings();

    std::unique_ptr<Ui::MainWindow> ui;
    QStringList m_interfaces;
    QString m_ip;
    int m_port = 8080;
    std::unique_ptr<WCapture> m_wcapture;
    std::unique_ptr<NDISource> m_ndi;
    std::unique_ptr<CaptureStreamer> m_streamer;
    bool m_running = false;
    std::unique_ptr<QTimer> m_statTimer;
    std::unique_ptr<VoteDlg> m_voteDlg;
    QStringList m_publicServers;
    // The settings store and the service objects live as long as the window, which is the life
    // of the process; they are parentless so no widget owns them.
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DBStorage> m_storage;
    std::unique_ptr<WebServer> m_webServer;
    std::unique_ptr<WSServer> m_wsServer;
    std::unique_ptr<APIWebServer> m_apiServer;
    QNetworkAccessManager *m_netManager = nullptr;
    QToolButton *m_startButton = nullptr;
    QMenu *m_questionsMenu = nullptr;
    // The Ctrl+1..9 and Ctrl+N bindings of the current video list, replaced at each refill.
    std::vector<QShortcut *> m_sourceShortcuts;
    // The list's own selection while it is filled is no choice of the presenter's.
    bool m_fillingVideoSources = false;
    bool m_cloudMode = false;
    bool m_serversReady = false;
    SessionStats m_stats;
};
