#pragma once

#include "capture/VideoCodec.h"
#include "capture/media/IMFFactory.h"
#include "quiz/QuizPlay.h"
#include "relay/WSServer.h"
#include "session/CaptureSources.h"
#include "session/SessionPorts.h"
#include "session/SessionStats.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

class APIWebServer;
class AudienceLink;
class CLOUDProxy;
class CaptureStreamer;
class DBStorage;
class DrawRun;
class NDISource;
class PublicServerList;
class QSettings;
class QuestionBoard;
class QuizBoard;
class QuizSession;
struct QuizInfo;
class Recorder;
class VoteRun;
class VoteState;
class WebServer;

// What Start needs, as the presenter chose it.
struct SessionRequest
{
    QString address; // the interface's address text
    int port = 0;    // the viewer HTTP port; the relay takes the next one
    double maxAudioLag = 0;
    CaptureSources::Choice sources;
    QSize frameSize;
    int bitrateKbps = 0;
    VideoCodec videoCodec = VideoCodec::Mpeg1;
    bool cloudMode = false;
    QString cloudServer; // as the presenter typed or picked it; cloud mode only
    bool record = false; // into the folder RecordingPlace names
};

// The presenter's choices, written to the settings store at every successful Start so that the
// next start-up restores them; the studio's defaults until then.
struct SessionChoices
{
    int videoIndex = 0;
    int audioIndex = 0;
    int frameIndex = 1;
    int bitrateIndex = 1;
    VideoCodec videoCodec = VideoCodec::Mpeg1;
    double audioLag = 1.5;
    QString ip; // empty when none was saved
    int port = SessionPorts::kDefaultHttp;
    QString cloudServer;
    bool useCloud = false;
    bool record = false;

    void save(QSettings &settings) const;
    // What the last successful Start saved; before the first, the defaults above.
    static SessionChoices load(const QSettings &settings);
};

// The studio's streaming session: owns the capture controller, the relay, the HTTP servers, the
// questions store and the audience's activities (the vote, the random winner game, the quiz
// played live), brings them up in a fixed order at Start and down at Stop, and reads the
// statistics. Nothing listens until start(). GUI thread only; the windows are its views.
class StudioSession : public QObject
{
    Q_OBJECT
public:
    // Why Start did not go live: the title and text of the box the presenter sees.
    struct StartError
    {
        QString title;
        QString text;
    };

    // `settings` is lent and must outlive the session. The encoder writers send to the relay on
    // 127.0.0.1:ports.ingest.
    StudioSession(QSettings *settings, MFFactoryPtr captureFactory, SessionPorts ports = {});
    // Stops a running session (the capture thread is joined) before anything is destroyed.
    ~StudioSession() override;

    // Listens (locally, or connects to the cloud server for this studio's room and opens the API
    // server on a port the system picks), starts capture and saves `choices`; on failure nothing
    // listens, nothing is saved and the error says why.
    std::optional<StartError> start(const SessionRequest &request, const SessionChoices &choices);
    void stop();
    bool isRunning() const { return m_running; }

    bool isCloudSession() const { return m_running && m_cloudSession; }

    // The way to the viewers of the session that runs (or ran last): the local relay, or the
    // cloud relay client in a cloud session. Everything the audience is sent goes through it.
    AudienceLink *audience() const;
    // `quiz` played live from now on, in place of any earlier one: its messages go to the
    // viewers (and open chapters of the recording), their answers come back, and the room's
    // screen shows it. The session owns it until the next quiz or its own end.
    QuizSession *playQuiz(const QuizInfo &quiz, int questionSeconds,
                          QuizPlay::Shuffle shuffle = {});
    // The quiz played last, null before the first and after endQuiz().
    QuizSession *quiz() const { return m_quiz.get(); }
    // The quiz played is over for the presenter: the room's screen shows none.
    void endQuiz();

    // The active relay's counters (they start from 0 at each Start); in a cloud session the
    // total and the viewers are the server's.
    WSServer::Statistics statistics() const;
    // The statistics labels' texts at one tick of SessionStats::kPeriodMs; with `zero` (while
    // idle) every value reads 0.
    SessionStats::Texts statisticsTick(bool zero);
    // What the chosen video and audio sources fail at, in words for the presenter; empty while
    // they deliver, and while idle.
    QString sourceWarning() const;
    // A changed source takes effect at once while running; idle, Start picks it up.
    void applySources(const CaptureSources::Choice &choice);
    // The devices to offer: the video devices with the NDI sources after them; the audio ones.
    QStringList videoDevices() const;
    QStringList audioDevices() const;
    // The screen area to capture, idle as well, so that Start knows it.
    void setCaptureArea(int display, const QRect &area);
    // The output picture size and bitrate; a running stream takes them at once.
    void setOutput(const QSize &frameSize, int bitrateKbps);
    void setMaxAudioLag(double seconds);
    // What Start needs for `choices` (their preset indices resolved), with `sources` and where
    // viewers are sent now.
    SessionRequest requestFor(const SessionChoices &choices,
                              const CaptureSources::Choice &sources) const;

    // Where viewers are sent, as the presenter has it set now (before Start too).
    struct ViewerPlace
    {
        QString address; // the local interface's address text
        int port = SessionPorts::kDefaultHttp;
        bool cloudMode = false;
        QString cloudServer; // as picked or typed; may be a placeholder item
    };
    const ViewerPlace &viewerPlace() const { return m_place; }
    void setLocalAddress(const QString &address, int port);
    void setCloudServer(bool cloudMode, const QString &server);
    // The address viewers open (local: the address and port; cloud: the server with this
    // studio's room). Empty in cloud mode while no server is chosen.
    QString viewerUrl() const;
    // Where the questions and vote pages are served, without a trailing slash.
    QString apiBaseUrl() const;
    // The page that lists the viewers' questions.
    QString questionsPageUrl() const;
    QString roomId() const;

    // The choices to offer at start-up: the saved ones, with the HTTP port given to the
    // session in place of the saved one.
    SessionChoices savedChoices() const;

    // The relay takes the port after the viewer HTTP port; none exists after 65535.
    static std::optional<quint16> relayPort(int httpPort);
    // The viewer pages beside the executable.
    static QString webDir();

    CaptureStreamer *streamer() const { return m_streamer.get(); }
    NDISource *ndiSources() const { return m_ndi.get(); }
    DBStorage *store() const { return m_store.get(); }
    WebServer *webServer() const { return m_webServer.get(); }
    WSServer *relay() const { return m_relay.get(); }
    CLOUDProxy *cloudProxy() const { return m_cloudProxy.get(); }
    APIWebServer *apiServer() const { return m_apiServer.get(); }
    VoteState *vote() const { return m_vote.get(); }
    // The vote's clock: starts, reads and ends the vote through the audience link.
    VoteRun *voteRun() const { return m_voteRun.get(); }
    // The random winner game, to the viewers through the audience link.
    DrawRun *drawRun() const { return m_drawRun.get(); }
    // What the room's screen shows of a quiz played live.
    QuizBoard *quizBoard() const { return m_quizBoard.get(); }
    // The room's questions: moderation, upvotes, the list the pages are sent.
    QuestionBoard *questionBoard() const { return m_questionBoard.get(); }
    // The public cloud servers; asked for when the view first wants them.
    PublicServerList *publicServers() const { return m_publicServers.get(); }
    // Records the stream while a session with `record` runs; finishes the file after it.
    Recorder *recorder() const { return m_recorder.get(); }

public slots:
    // A command message built elsewhere (a quiz) to the viewers; a quiz question opens a chapter.
    void onCommand(QString message);

signals:
    // The recording could not start, or stopped while the stream goes on; in words.
    void recordingStopped(QString message);
    // A command viewer's message (a quiz answer, a question), from whichever relay runs.
    void viewerCommand(QString viewer, QJsonObject message);
    // The cloud relay gave up reconnecting; the session still counts as running until stop().
    void connectionLost();

private:
    std::optional<StartError> startLocalServers(const SessionRequest &request);
    std::optional<StartError> startCloud(const SessionRequest &request);
    void startCapture(const SessionRequest &request);
    void selectSources(const CaptureSources::Choice &choice);
    void startRecording();

    QSettings *m_settings;
    SessionPorts m_ports;
    ViewerPlace m_place;
    std::unique_ptr<NDISource> m_ndi;
    std::unique_ptr<CaptureStreamer> m_streamer;
    std::unique_ptr<VoteState> m_vote;
    std::unique_ptr<VoteRun> m_voteRun;
    std::unique_ptr<DrawRun> m_drawRun;
    std::unique_ptr<QuizSession> m_quiz;
    std::unique_ptr<QuizBoard> m_quizBoard;
    std::unique_ptr<DBStorage> m_store;
    std::unique_ptr<QuestionBoard> m_questionBoard;
    std::unique_ptr<WebServer> m_webServer;
    std::unique_ptr<WSServer> m_relay;
    std::unique_ptr<APIWebServer> m_apiServer;
    std::unique_ptr<CLOUDProxy> m_cloudProxy;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<PublicServerList> m_publicServers;
    SessionStats m_stats;
    qint64 m_highlightedQuestion = 0; // the last one a recording chapter was opened for
    bool m_running = false;
    bool m_cloudSession = false;
};
