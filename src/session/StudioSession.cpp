#include "session/StudioSession.h"

#include "audience/DrawRun.h"
#include "audience/VoteRun.h"
#include "audience/VoteState.h"
#include "capture/CaptureStreamer.h"
#include "capture/NDISource.h"
#include "quiz/QuizBoard.h"
#include "quiz/QuizSession.h"
#include "record/Chapter.h"
#include "record/Recorder.h"
#include "record/RecordingPlace.h"
#include "relay/CLOUDProxy.h"
#include "session/CloudServerList.h"
#include "session/OutputPresets.h"
#include "session/PublicServerList.h"
#include "session/RoomIdentifier.h"
#include "session/ViewerAddress.h"
#include "web/APIWebServer.h"
#include "web/DBStorage.h"
#include "web/QuestionBoard.h"
#include "web/WebDirectory.h"
#include "web/WebServer.h"

#include <QDateTime>
#include <QDebug>
#include <QSettings>

void SessionChoices::save(QSettings &settings) const
{
    settings.setValue("VIDEO_IND", videoIndex);
    settings.setValue("AUDIO_IND", audioIndex);
    settings.setValue("FRAME_IND", frameIndex);
    settings.setValue("BITRATE_IND", bitrateIndex);
    settings.setValue("VIDEO_CODEC", VideoCodecs::key(videoCodec));
    settings.setValue("AUDIO_LAG", audioLag);
    settings.setValue("IP", ip);
    settings.setValue("PORT", port);
    settings.setValue("CLOUD_SERVER", cloudServer);
    settings.setValue("USE_CLOUD", useCloud);
    settings.setValue("RECORD", record);
    settings.sync();
}

SessionChoices SessionChoices::load(const QSettings &settings)
{
    const SessionChoices defaults;
    SessionChoices choices;
    choices.videoIndex = settings.value("VIDEO_IND", defaults.videoIndex).toInt();
    choices.audioIndex = settings.value("AUDIO_IND", defaults.audioIndex).toInt();
    choices.frameIndex = settings.value("FRAME_IND", defaults.frameIndex).toInt();
    choices.bitrateIndex = settings.value("BITRATE_IND", defaults.bitrateIndex).toInt();
    choices.videoCodec = VideoCodecs::fromKey(settings.value("VIDEO_CODEC").toString());
    choices.audioLag = settings.value("AUDIO_LAG", defaults.audioLag).toDouble();
    choices.ip = settings.value("IP").toString();
    choices.port = settings.value("PORT", defaults.port).toInt();
    choices.cloudServer = settings.value("CLOUD_SERVER").toString();
    choices.useCloud = settings.value("USE_CLOUD", defaults.useCloud).toBool();
    choices.record = settings.value("RECORD", defaults.record).toBool();
    return choices;
}

StudioSession::StudioSession(QSettings *settings, MFFactoryPtr captureFactory, SessionPorts ports)
    : m_settings(settings), m_ports(ports), m_ndi(std::make_unique<NDISource>(captureFactory)),
      m_streamer(std::make_unique<CaptureStreamer>(captureFactory)),
      m_vote(std::make_unique<VoteState>()),
      m_voteRun(std::make_unique<VoteRun>(m_vote.get(), [this] { return audience(); })),
      m_drawRun(std::make_unique<DrawRun>([this] { return audience(); })),
      m_quizBoard(std::make_unique<QuizBoard>(
          [this] { return m_quiz ? m_quiz->snapshot() : QuizBoard::Snapshot{}; })),
      m_store(std::make_unique<DBStorage>()),
      m_questionBoard(std::make_unique<QuestionBoard>(m_store.get())),
      m_webServer(std::make_unique<WebServer>(m_vote.get(), m_store.get(), m_quizBoard.get(),
                                              m_questionBoard.get())),
      m_relay(std::make_unique<WSServer>(ports.ingest)),
      m_apiServer(std::make_unique<APIWebServer>(m_vote.get(), m_store.get(), m_quizBoard.get(),
                                                 m_questionBoard.get())),
      m_cloudProxy(std::make_unique<CLOUDProxy>(m_store.get(), ports.ingest)),
      m_recorder(std::make_unique<Recorder>()),
      m_publicServers(std::make_unique<PublicServerList>(settings))
{
    // Both relays: the studio has the encoded stream in either mode. Only the running one
    // receives packets.
    connect(m_relay.get(), &WSServer::ingestPackets, m_recorder.get(), &Recorder::take);
    connect(m_cloudProxy.get(), &CLOUDProxy::ingestPackets, m_recorder.get(), &Recorder::take);
    connect(m_recorder.get(), &Recorder::stoppedByError, this, &StudioSession::recordingStopped);
    connect(m_cloudProxy.get(), &CLOUDProxy::reconnectFailed, this, &StudioSession::connectionLost);
    // Only the running relay has command viewers, so both may be heard.
    for (AudienceLink *link : {static_cast<AudienceLink *>(m_relay.get()),
                               static_cast<AudienceLink *>(m_cloudProxy.get())})
        connect(link, &AudienceLink::viewerCommand, this, &StudioSession::viewerCommand);
    connect(this, &StudioSession::viewerCommand, m_questionBoard.get(),
            &QuestionBoard::onViewerMessage);
    connect(m_questionBoard.get(), &QuestionBoard::command, this, [this](const QString &list) {
        audience()->sendCommand(list);
        m_recorder->markChapter(ChapterTitles::forQuestionList(list, &m_highlightedQuestion));
    });
    connect(m_questionBoard.get(), &QuestionBoard::captionChanged, this,
            [this](const QString &text) { m_streamer->setCaption(text); });
    m_vote->setTallySource([this] { return audience()->voteResults(); });
    connect(m_voteRun.get(), &VoteRun::started, this, [this](const QString &title) {
        m_recorder->markChapter(ChapterTitles::forVote(title));
    });
}

StudioSession::~StudioSession()
{
    stop();
    // A running vote or quiz would send to relays that are gone.
    m_voteRun.reset();
    m_drawRun.reset();
    m_quiz.reset();
    // The servers read the vote and the store, so they go first; the store's destructor ends its
    // thread.
    m_cloudProxy.reset();
    m_apiServer.reset();
    m_relay.reset();
    m_webServer.reset();
    m_questionBoard.reset();
    m_store.reset();
}

SessionChoices StudioSession::savedChoices() const
{
    SessionChoices choices = SessionChoices::load(*m_settings);
    if (m_ports.http != 0)
        choices.port = m_ports.http;
    return choices;
}

std::optional<quint16> StudioSession::relayPort(int httpPort)
{
    if (httpPort < 1 || httpPort >= 65535)
        return std::nullopt;
    return quint16(httpPort + 1);
}

QString StudioSession::webDir()
{
    const QString dir = WebDirectory::locate();
    qDebug() << "getWEBDir: " << dir;
    return dir;
}

std::optional<StudioSession::StartError> StudioSession::start(const SessionRequest &request,
                                                              const SessionChoices &choices)
{
    if (m_running)
        return std::nullopt;
    if (auto error = request.cloudMode ? startCloud(request) : startLocalServers(request))
        return error;
    m_cloudSession = request.cloudMode;
    if (request.record)
        startRecording();
    startCapture(request);
    choices.save(*m_settings);
    m_stats.reset();
    m_running = true;
    return std::nullopt;
}

std::optional<StudioSession::StartError>
StudioSession::startLocalServers(const SessionRequest &request)
{
    if (request.address.isEmpty() || request.address == ViewerAddress::kNoNetwork) {
        // Listening on every interface instead would look live while no viewer can be told
        // where to connect.
        return StartError{tr("Start error"),
                          tr("There is no network address to serve viewers on. Connect this "
                             "computer to a network, then start the studio again.")};
    }
    const std::optional<quint16> wsPort = relayPort(request.port);
    if (!wsPort) {
        return StartError{tr("Start error"),
                          tr("Port %1 cannot be used: viewers also need the port after it for the "
                             "stream. Choose a port below 65535.")
                              .arg(request.port)};
    }
    m_webServer->listen(request.address, request.port, webDir(), request.maxAudioLag);
    m_relay->start(request.address, *wsPort);
    if (m_webServer->serverPort() != 0 && m_relay->isListening() &&
        m_relay->ingestServer.isListening())
        return std::nullopt;
    m_webServer->stopListen();
    m_relay->stop();
    return StartError{tr("Start error"),
                      tr("Can't listen on %1 ports %2 and %3, or on the local stream port %4: "
                         "another program may be using them.")
                          .arg(request.address)
                          .arg(request.port)
                          .arg(*wsPort)
                          .arg(m_relay->ingestPort())};
}

std::optional<StudioSession::StartError> StudioSession::startCloud(const SessionRequest &request)
{
    if (!CloudServerList::isServer(request.cloudServer)) {
        return StartError{tr("Connection error"),
                          tr("Choose a cloud server first, or add one with \"%1\".")
                              .arg(CloudServerList::kAddCustomItem)};
    }
    m_cloudProxy->setIdentity(RoomIdentifier::presenterIdentity(*m_settings));
    m_cloudProxy->setCaFile(m_settings->value("CLOUD_CA_FILE").toString());
    if (!m_cloudProxy->connectToCloud(request.cloudServer, RoomIdentifier::roomId(*m_settings))) {
        const QString problem = m_cloudProxy->certificateProblem();
        return StartError{tr("Connection error"),
                          problem.isEmpty()
                              ? tr("Can't connect to selected server")
                              : tr("Can't connect to selected server: %1").arg(problem)};
    }
    // This machine only: in cloud mode the questions and vote pages are the presenter's own
    // views, and the presenter's network (a conference's wifi) must not read the questions.
    if (!m_apiServer->listen(QStringLiteral("127.0.0.1"), 0, webDir()))
        qWarning() << "API server could not listen; the questions link leads nowhere";
    return std::nullopt;
}

void StudioSession::startCapture(const SessionRequest &request)
{
    m_streamer->setIngestPort(request.cloudMode ? m_cloudProxy->ingestPort()
                                                : m_relay->ingestPort());
    selectSources(request.sources);
    m_streamer->setOutputParams(request.frameSize, request.bitrateKbps);
    m_streamer->setVideoCodec(request.videoCodec);
    m_streamer->startStreaming(request.cloudMode);
}

void StudioSession::stop()
{
    if (!m_running)
        return;
    m_streamer->stopStreaming();
    // Joined here, so the pump never outlives a session (or the window at exit).
    m_streamer->wait();
    if (m_cloudSession) {
        m_cloudProxy->disconnectFromCloud();
        m_apiServer->close();
    } else {
        m_webServer->stopListen();
        m_relay->stop();
    }
    m_recorder->stop();
    m_running = false;
}

void StudioSession::startRecording()
{
    const QString stem =
        RecordingPlace::stem(RecordingPlace::folder(*m_settings), QDateTime::currentDateTime());
    QString error;
    m_highlightedQuestion = 0;
    if (!m_recorder->start(stem, &error))
        emit recordingStopped(error);
}

void StudioSession::setLocalAddress(const QString &address, int port)
{
    m_place.address = address;
    m_place.port = port;
}

void StudioSession::setCloudServer(bool cloudMode, const QString &server)
{
    m_place.cloudMode = cloudMode;
    m_place.cloudServer = server;
}

QString StudioSession::viewerUrl() const
{
    if (!m_place.cloudMode)
        return ViewerAddress::viewerUrl(false, m_place.address, m_place.port, QString(), QString());
    if (!CloudServerList::isServer(m_place.cloudServer))
        return QString();
    return ViewerAddress::viewerUrl(true, QString(), 0, m_place.cloudServer, roomId());
}

QString StudioSession::apiBaseUrl() const
{
    return ViewerAddress::apiBaseUrl(m_place.cloudMode, m_apiServer->serverPort(), viewerUrl());
}

QString StudioSession::questionsPageUrl() const
{
    return apiBaseUrl() + "/feedback_list.html";
}

SessionRequest StudioSession::requestFor(const SessionChoices &choices,
                                         const CaptureSources::Choice &sources) const
{
    SessionRequest request;
    request.address = m_place.address;
    request.port = m_place.port;
    request.maxAudioLag = choices.audioLag;
    request.sources = sources;
    request.frameSize = OutputPresets::frameSizes().value(choices.frameIndex).size;
    request.bitrateKbps = OutputPresets::bitrates().value(choices.bitrateIndex).kbps;
    request.videoCodec = choices.videoCodec;
    request.cloudMode = m_place.cloudMode;
    request.cloudServer = m_place.cloudServer;
    request.record = choices.record;
    return request;
}

QString StudioSession::roomId() const
{
    return RoomIdentifier::roomId(*m_settings);
}

AudienceLink *StudioSession::audience() const
{
    if (m_cloudSession)
        return m_cloudProxy.get();
    return m_relay.get();
}

QuizSession *StudioSession::playQuiz(const QuizInfo &quiz, int questionSeconds,
                                     QuizPlay::Shuffle shuffle)
{
    m_quiz = std::make_unique<QuizSession>(quiz, questionSeconds, std::move(shuffle));
    connect(m_quiz.get(), &QuizSession::command, this, &StudioSession::onCommand);
    connect(this, &StudioSession::viewerCommand, m_quiz.get(), &QuizSession::onViewerMessage);
    return m_quiz.get();
}

void StudioSession::endQuiz()
{
    m_quiz.reset();
}

void StudioSession::onCommand(QString message)
{
    audience()->sendCommand(message);
    m_recorder->markChapter(ChapterTitles::forCommand(message));
}

WSServer::Statistics StudioSession::statistics() const
{
    return m_cloudSession ? m_cloudProxy->statistics() : m_relay->statistics();
}

SessionStats::Texts StudioSession::statisticsTick(bool zero)
{
    const WSServer::Statistics stats = statistics();
    return m_stats.tick(quint64(stats.receivedBytes), quint64(stats.sentBytes), stats.viewers,
                        zero);
}

QString StudioSession::sourceWarning() const
{
    if (!m_running)
        return QString();
    const MFSourceTrouble trouble = m_streamer->sourceTrouble();
    QStringList parts;
    if (!trouble.video.isEmpty())
        parts.append(tr("Video source not working (%1)").arg(trouble.video));
    if (!trouble.audio.isEmpty())
        parts.append(tr("Audio source not working (%1)").arg(trouble.audio));
    return parts.join("; ");
}

void StudioSession::applySources(const CaptureSources::Choice &choice)
{
    if (m_running)
        selectSources(choice);
}

QStringList StudioSession::videoDevices() const
{
    QStringList devices;
    m_streamer->enumerateDevices("VIDEO", devices);
    m_ndi->appendNDISources(devices);
    return devices;
}

QStringList StudioSession::audioDevices() const
{
    QStringList devices;
    m_streamer->enumerateDevices("AUDIO", devices);
    return devices;
}

void StudioSession::setCaptureArea(int display, const QRect &area)
{
    m_streamer->setCaptureArea(display, area);
}

void StudioSession::setOutput(const QSize &frameSize, int bitrateKbps)
{
    m_streamer->setOutputParams(frameSize, bitrateKbps);
}

void StudioSession::setMaxAudioLag(double seconds)
{
    m_webServer->setMaxAudioLag(seconds);
}

void StudioSession::selectSources(const CaptureSources::Choice &choice)
{
    m_streamer->setSources(choice.video, choice.audio);
    // A "Desktop" item captures that whole screen, the screen area item a part of one.
    if (choice.display >= 0)
        m_streamer->setCaptureArea(choice.display, choice.area);
}
