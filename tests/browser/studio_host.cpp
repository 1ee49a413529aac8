// Runs the real studio for the browser tests and the latency benchmark, driven over standard
// input and output with one JSON object per line.
//
//   studio_host exec <program> [args...]  runs the program in a network namespace of its own
//                                         (root), where the studio can serve on a local
//                                         interface address; LUMACAST_STUDIO_ADDRESS names it.
//   studio_host serve [httpPort]          (inside) a private X display showing a full-screen
//                                         window of known colour, a PulseAudio daemon playing a
//                                         tone, and the main window set to capture both, on
//                                         httpPort (a free one when not given; the ready answer
//                                         says which). With LUMACAST_CLOUD_SERVER (host:port)
//                                         the window is in cloud mode with that server;
//                                         LUMACAST_CLOUD_CA_FILE is its CLOUD_CA_FILE setting.
//                                         Inside a Wayland desktop (WAYLAND_DISPLAY set, as under
//                                         tests/support/wayland/wayland-session.sh) no X server
//                                         is started: the screen is the desktop's, shared
//                                         through its portal, and the painted window is a band
//                                         across the top of it (on XWayland), so the desktop's
//                                         background stays in the middle of the picture.
//
// Requests to `serve` ({"do": ...}) and their answers:
//   start, stop                        the main window's Start/Stop button -> {"running": bool}
//   codec {"index": n}                 picks the main window's video codec -> {"codec": text}
//   frames {"index": n}                picks the main window's frame size -> {"frames": text}
//   moving {"on": bool}                covers the screen with moving, detailed content, or
//                                         takes it away -> {"moving": bool}
//   paint {"colour":"#rrggbb"}         fills the screen -> {"paintedAt": epoch ms, sub-ms}
//   vote {"title", "options":[5]}      fills the voting window and starts the vote
//   vote_stop                          stops it
//   votes                              -> {"votes": the window's last tally}
//   questions                          -> {"questions": [{"id","name","question","state",
//                                         "upvotes","highlighted"}], "approval": bool}
//   question_action {"action", "id", "on"}  the presenter's moderation on the question board:
//                                         approval (on), approve, hide, answer, highlight,
//                                         caption (on): the question on screen on the stream
//   game_tick {"clr","proc"}, game_finish {"lose","win","code"}   random draw messages
//   quiz_play {"title", "questions":[{"title","options"}], "seconds"}   opens the quiz's play
//   window quiz_next                          its button (start, end question, next, results)
//   quiz_state, and the reply to quiz_next -> {"answered", "leaders":[{"nickname","score"}]}
//   environment                        -> {"display", "pulseServer", "webDir"}: for a reference
//                                         pipeline that captures the same screen and sound
//   stats                              -> {"feed", "total", "clients"}: the statistics labels,
//                                         and "api": the questions base address
//   status                             -> {"message": what the status bar's message place shows}
//   quit
// The first line out is {"ready": true, "url": the viewer address}.
#include "StudioTestHome.h"
#include "support/ChildProcess.h"
#include "support/FreePortPair.h"
#include "support/MovingContent.h"
#include "support/PrivateNetwork.h"
#include "support/PulseSession.h"
#include "support/XPaintWindow.h"
#include "support/XvfbSession.h"

#include "app/MainWindow.h"
#include "audience/AudienceLink.h"
#include "audience/gui/VoteDlg.h"
#include "quiz/gui/QuizPlayWindow.h"
#include "relay/CLOUDProxy.h"
#include "relay/WSServer.h"
#include "session/StudioSession.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

constexpr QSize kScreen(1280, 720);
// On a Wayland desktop: the painted band, above the middle of the picture.
constexpr QRect kWaylandBand(0, 0, 1280, 200);
constexpr int kFrameSizeIndex = 1; // 960x540
constexpr int kBitrateIndex = 2;   // 1 Mbit/s, 936 kbit/s of it video

double epochMs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

void reply(const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fflush(stdout);
}

template <class T> T *child(QObject *parent, const char *name)
{
    T *widget = parent->findChild<T *>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

class StudioHost : public QObject
{
public:
    // `httpPort` 0: a free pair of ports.
    bool setUp(int httpPort, QString *error)
    {
        const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
        if (wayland) {
            m_display = qEnvironmentVariable("DISPLAY");
        } else {
            // LUMACAST_XVFB_OPTIONS: more of Xvfb's options, as "-extension DAMAGE" for a
            // studio that captures on the clock.
            const QStringList options = qEnvironmentVariable("LUMACAST_XVFB_OPTIONS")
                                            .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (!m_xvfb.start(kScreen, error, QSize(), options))
                return false;
            m_display = m_xvfb.display();
        }
        if (!m_pulse.start(error))
            return false;
        qputenv("DISPLAY", m_display.toUtf8());
        qputenv("PULSE_SERVER", m_pulse.server().toUtf8());
        if (!m_screen.open(m_display, wayland ? kWaylandBand : QRect(QPoint(0, 0), kScreen), error))
            return false;
        m_screen.fill(qRgb(32, 96, 192));
        ChildProcess::Options tone;
        tone.environment << "PULSE_SERVER=" + m_pulse.server();
        if (!m_tone.start("ffmpeg",
                          {"-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                           "sine=frequency=440:sample_rate=48000", "-f", "pulse", "-device",
                           "studio", "tone"},
                          tone, error))
            return false;

        const QString cloudServer = qEnvironmentVariable("LUMACAST_CLOUD_SERVER");
        if (!cloudServer.isEmpty())
            m_home.set("SERVER_1", cloudServer);
        const QString cloudCaFile = qEnvironmentVariable("LUMACAST_CLOUD_CA_FILE");
        if (!cloudCaFile.isEmpty())
            m_home.set("CLOUD_CA_FILE", cloudCaFile);
        m_httpPort = httpPort != 0 ? httpPort : freePortPair();
        if (m_httpPort == 0) {
            *error = QStringLiteral("no free pair of ports");
            return false;
        }
        m_window = std::make_unique<MainWindow>(mfDefaultFactory(), SessionPorts{m_httpPort, 0});
        if (!cloudServer.isEmpty())
            child<QCheckBox>(m_window.get(), "chkCloud")->click();
        auto *video = child<QComboBox>(m_window.get(), "cmbVideoSources");
        video->setCurrentIndex(video->findData("CAPTURE_DISPLAY#0"));
        child<QComboBox>(m_window.get(), "cmbAudioSources")->setCurrentIndex(1); // original
        child<QComboBox>(m_window.get(), "cmbFrames")->setCurrentIndex(kFrameSizeIndex);
        child<QComboBox>(m_window.get(), "cmbBitrate")->setCurrentIndex(kBitrateIndex);
        return true;
    }

    void listen()
    {
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, &StudioHost::readInput);
        const QString url =
            m_window->cloudMode()
                ? m_window->session()->viewerUrl()
                : QString("http://%1:%2/").arg(PrivateNetwork::kAddress).arg(m_httpPort);
        reply({{"ready", true}, {"url", url}, {"httpPort", m_httpPort}});
    }

private:
    void readInput()
    {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        m_pending.append(buffer, int(got));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            handle(QJsonDocument::fromJson(line).object());
        }
    }

    void handle(const QJsonObject &request)
    {
        const QString what = request["do"].toString();
        if (what == "start" || what == "stop") {
            if (m_window->isRunning() != (what == "start"))
                m_window->on_cmdStart_clicked();
            reply({{"running", m_window->isRunning()}});
        } else if (what == "codec") {
            auto *codec = child<QComboBox>(m_window.get(), "cmbCodec");
            codec->setCurrentIndex(request["index"].toInt());
            reply({{"codec", codec->currentText()}});
        } else if (what == "frames") {
            auto *frames = child<QComboBox>(m_window.get(), "cmbFrames");
            frames->setCurrentIndex(request["index"].toInt());
            reply({{"frames", frames->currentText()}});
        } else if (what == "moving") {
            QString error;
            m_moving.reset();
            if (request["on"].toBool()) {
                m_moving = std::make_unique<MovingContent>();
                if (!m_moving->start(m_display, QRect(QPoint(0, 0), kScreen), &error))
                    m_moving.reset();
            }
            reply({{"moving", m_moving != nullptr}, {"error", error}});
        } else if (what == "paint") {
            m_screen.fill(QColor(request["colour"].toString()).rgb());
            reply({{"paintedAt", epochMs()}});
        } else if (what == "vote") {
            m_window->onVoteTriggered();
            VoteDlg *vote = m_window->voteWindow();
            child<QLineEdit>(vote, "headerLineEdit")->setText(request["title"].toString());
            const QJsonArray options = request["options"].toArray();
            for (int i = 0; i < VoteDlg::kOptionCount; ++i)
                child<QLineEdit>(vote, QString("option%1LineEdit").arg(i + 1).toLatin1())
                    ->setText(options.at(i).toString());
            child<QPushButton>(vote, "cmdStart")->click();
            reply({{"voting", true}});
        } else if (what == "vote_stop") {
            child<QPushButton>(m_window->voteWindow(), "cmdStart")->click();
            reply({{"voting", false}});
        } else if (what == "votes") {
            QJsonArray votes;
            for (qint32 count : m_window->voteWindow()->votes())
                votes.append(count);
            reply({{"votes", votes}});
        } else if (what == "questions") {
            QJsonArray questions;
            for (const QuestionRecord &record : m_window->session()->store()->selectQuestions())
                questions.append(QJsonObject{{"id", record.id},
                                             {"name", record.name},
                                             {"question", record.question},
                                             {"state", questionStateName(record.state)},
                                             {"upvotes", record.upvotes},
                                             {"highlighted", record.highlighted}});
            reply({{"questions", questions},
                   {"approval", m_window->session()->store()->approvalRequired()}});
        } else if (what == "question_action") {
            QuestionBoard *board = m_window->session()->questionBoard();
            const QString action = request["action"].toString();
            const qint64 id = qint64(request["id"].toDouble());
            if (action == "approval")
                board->setApprovalRequired(request["on"].toBool());
            else if (action == "approve")
                board->approve(id);
            else if (action == "hide")
                board->hide(id);
            else if (action == "answer")
                board->answer(id);
            else if (action == "highlight")
                board->highlight(id);
            else if (action == "caption")
                board->setCaptionOnStream(request["on"].toBool());
            reply({{"done", action}});
        } else if (what == "game_tick") {
            // The session sends it through the relay that runs, as the window would.
            const QString clr = request["clr"].toString();
            const int proc = request["proc"].toInt();
            m_window->session()->audience()->onRandomGameTick(clr, proc);
            reply({{"sent", true}});
        } else if (what == "game_finish") {
            const QString lose = request["lose"].toString();
            const QString win = request["win"].toString();
            const QString code = request["code"].toString();
            m_window->session()->audience()->onRandomGameFinish(lose, win, code);
            reply({{"sent", true}});
        } else if (what == "quiz_play") {
            m_window->playQuiz(
                QuizInfo{"quiz", request["title"].toString(), request["questions"].toArray()});
            child<QSpinBox>(m_window->quizPlayWindow(), "spbSeconds")
                ->setValue(request["seconds"].toInt());
            reply({{"playing", true}});
        } else if (what == "quiz_next") {
            child<QPushButton>(m_window->quizPlayWindow(), "btnNext")->click();
            reply(quizState());
        } else if (what == "quiz_state") {
            reply(quizState());
        } else if (what == "stats") {
            reply({{"feed", child<QLabel>(m_window.get(), "lblStatFeed")->text()},
                   {"total", child<QLabel>(m_window.get(), "lblStatTotal")->text()},
                   {"clients", child<QLabel>(m_window.get(), "lblStatClients")->text()},
                   {"api", m_window->session()->apiBaseUrl()}});
        } else if (what == "status") {
            reply({{"message", child<QLabel>(m_window.get(), "lblMessage")->text()}});
        } else if (what == "environment") {
            reply({{"display", m_display},
                   {"pulseServer", m_pulse.server()},
                   {"webDir", StudioSession::webDir()}});
        } else if (what == "quit") {
            reply({{"quit", true}});
            QCoreApplication::quit();
        } else {
            reply({{"error", "unknown request: " + what}});
        }
    }

    // {"answered": answers to the open or last question, "leaders": [{"nickname", "score"}]}
    QJsonObject quizState() const
    {
        const QuizPlay &play = m_window->quizPlayWindow()->session()->play();
        QJsonArray leaders;
        for (const QuizPlay::Standing &standing : play.leaderboard())
            leaders.append(QJsonObject{{"nickname", standing.nickname}, {"score", standing.score}});
        return {{"answered", play.answeredCount()}, {"leaders", leaders}};
    }

    StudioTestHome m_home;
    XvfbSession m_xvfb;
    QString m_display; // Xvfb's, or the Wayland desktop's XWayland
    PulseSession m_pulse;
    ChildProcess m_tone;
    XPaintWindow m_screen;
    std::unique_ptr<MovingContent> m_moving;
    std::unique_ptr<MainWindow> m_window;
    int m_httpPort = 0; // the relay's is the next one
    QSocketNotifier *m_input = nullptr;
    QByteArray m_pending;
};

} // namespace

int main(int argc, char *argv[])
{
    const bool exec = argc >= 3 && QByteArray(argv[1]) == "exec";
    const bool serve = argc >= 2 && QByteArray(argv[1]) == "serve";
    if (!exec && !serve) {
        std::fprintf(stderr, "usage: %s exec <program> [args...] | serve [httpPort]\n", argv[0]);
        return 2;
    }
    if (exec) {
        const int status = PrivateNetwork::runSelfInside(argc, argv);
        if (status >= 0)
            return status;
        if (!PrivateNetwork::inside()) {
            std::fprintf(stderr, "needs root, to make a network namespace\n");
            return 77;
        }
        setenv("LUMACAST_STUDIO_ADDRESS", PrivateNetwork::kAddress, 1);
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        return 127;
    }
    if (!PrivateNetwork::inside()) {
        std::fprintf(stderr, "serve runs inside `exec`\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Quillfen");
    QCoreApplication::setApplicationName("LumacastPRO");
    StudioHost host;
    QString error;
    if (!host.setUp(argc >= 3 ? std::atoi(argv[2]) : 0, &error)) {
        reply({{"error", error}});
        return 1;
    }
    host.listen();
    return app.exec();
}
