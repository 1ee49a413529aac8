#include "cloud/CloudRoom.h"

#include "cloud/CloudRelay.h"
#include "cloud/RoomLink.h"
#include "quiz/QuizMessages.h"
#include "relay/CommandMessages.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <utility>

namespace {

constexpr int kViewerKeySecretBytes = 16;

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

} // namespace

CloudRoom::CloudRoom(const QString &id, int maxViewers, CloudCluster *cluster, QObject *parent)
    : QObject(parent), m_id(id), m_viewerKeySecret(randomBytes(kViewerKeySecretBytes)),
      m_room(maxViewers),
      m_link(cluster ? std::make_unique<RoomLink>(cluster, id, &m_room, this, this) : nullptr)
{
    m_graceTimer.setSingleShot(true);
    m_graceTimer.setInterval(kPresenterGraceMs);
    connect(&m_graceTimer, &QTimer::timeout, this, &CloudRoom::presenterGone);
    m_questionListPace.setSingleShot(true);
    m_questionListPace.setInterval(kQuestionListIntervalMs);
    connect(&m_questionListPace, &QTimer::timeout, this, &CloudRoom::sendQuestionList);
    connect(&m_room, &RelayRoom::voteCast, this, &CloudRoom::countVote);
    connect(&m_room, &RelayRoom::viewerMessage, this, &CloudRoom::passViewerMessage);
    connect(&m_room, &RelayRoom::audienceChanged, this, &CloudRoom::audienceChanged);
    connect(&m_room, &RelayRoom::emptied, this, [this] {
        if (!m_presenter)
            emit emptied();
    });
    if (m_link)
        connect(&m_room, &RelayRoom::streamFlushed, m_link.get(), &RoomLink::publishStream);
}

CloudRoom::~CloudRoom() = default;

bool CloudRoom::setPresenter(QWebSocket *presenter, const QByteArray &key)
{
    if (m_presenter && m_ownerKey != key)
        return false;
    if (QWebSocket *old = m_presenter) {
        qInfo() << "room" << m_id << "presenter replaced by a new connection of its own";
        old->disconnect(this);
        connect(old, &QWebSocket::disconnected, old, &QObject::deleteLater);
        old->abort();
    }
    m_graceTimer.stop();
    m_ownerKey = key;
    m_presenter = presenter;
    m_presenterHeard.start();
    // A new connection starts on a fresh packet grid and with no stale picture for joiners.
    m_aligner = TsPacketAligner();
    m_room.restartJoinCache();
    connect(presenter, &QWebSocket::binaryMessageReceived, this, &CloudRoom::onPresenterStream);
    connect(presenter, &QWebSocket::textMessageReceived, this, &CloudRoom::onPresenterCommand);
    connect(presenter, &QWebSocket::pong, this, [this] { m_presenterHeard.start(); });
    connect(presenter, &QWebSocket::disconnected, this,
            [this, presenter] { onPresenterGone(presenter); });
    qInfo() << "room" << m_id << "presenter from" << presenter->peerAddress().toString();
    if (m_link)
        m_link->update();
    return true;
}

bool CloudRoom::addVideoViewer(QWebSocket *viewer, QTcpSocket *transport)
{
    return m_room.addVideoViewer(viewer, transport);
}

bool CloudRoom::addCommandViewer(QWebSocket *viewer, QTcpSocket *transport)
{
    return m_room.addCommandViewer(viewer, transport);
}

QHostAddress CloudRoom::presenterAddress() const
{
    return m_presenter ? m_presenter->peerAddress() : QHostAddress();
}

bool CloudRoom::releasePresenter(const QByteArray &key)
{
    if (!m_presenter)
        return true;
    if (key != m_ownerKey)
        return false;
    qInfo() << "room" << m_id << "presenter moved to another node";
    m_presenter->abort();
    return true;
}

void CloudRoom::askQuestion(const QByteArray &questionJson, std::function<void(bool stored)> done)
{
    if (!m_presenter || m_questionsWaiting.size() >= kMaxQuestionsWaiting) {
        done(false);
        return;
    }
    const qint64 id = ++m_lastQuestionId;
    m_questionsWaiting.insert(id, std::move(done));
    sendToPresenter(CommandMessages::questionMessage(questionJson, id));
    QTimer::singleShot(kQuestionAnswerMs, this, [this, id] {
        if (const auto waiting = m_questionsWaiting.take(id))
            waiting(false);
    });
}

void CloudRoom::report()
{
    if (m_link)
        m_link->reportAudience();
    // Viewers of a presenter on another node: whether it is still live is asked now and then,
    // so that they too go once it has gone for good.
    if (!m_presenter && m_link && !m_graceTimer.isActive())
        m_graceTimer.start();
    if (!m_presenter)
        return;
    if (m_presenterHeard.elapsed() > kPresenterSilenceMs) {
        qWarning() << "room" << m_id << "presenter silent for" << m_presenterHeard.elapsed()
                   << "ms; dropped";
        m_presenter->abort();
        return;
    }
    // The figure is 32 bits wide on the wire; a total that wraps reads as one slow period
    // instead of zero for good.
    int viewers = m_room.videoViewers();
    qint64 sentBytes = m_room.sentBytes();
    const QList<RoomLink::Node> nodes = m_link ? m_link->remoteNodes() : QList<RoomLink::Node>();
    for (const RoomLink::Node &node : nodes) {
        viewers += node.audience.videoViewers;
        sentBytes += node.audience.sentBytes;
    }
    const int totalBytes = int(sentBytes % (qint64(1) << 31));
    sendToPresenter(CommandMessages::statInfoMessage(viewers, totalBytes, m_room.voteResults()));
    if (m_presenter)
        m_presenter->ping();
}

void CloudRoom::sendToPresenter(const QString &message)
{
    m_presenter->sendTextMessage(message);
    if (m_presenter->bytesToWrite() <= CloudRelay::kMaxPresenterBacklogBytes)
        return;
    if (m_dropLog.admit())
        qWarning() << "room" << m_id
                   << "drops a presenter that does not read:" << m_presenter->bytesToWrite()
                   << "bytes unsent";
    m_presenter->abort();
}

void CloudRoom::onPresenterStream(const QByteArray &message)
{
    m_presenterHeard.start();
    m_room.takeStream(m_aligner.take(message));
}

void CloudRoom::onPresenterCommand(const QString &message)
{
    m_presenterHeard.start();
    // Nothing a presenter may send is longer than a question list: a longer text is dropped
    // unparsed, as parsing megabytes would hold up every room of the relay.
    if (message.size() > kMaxQuestionListChars) {
        dropPresenterText(message);
        return;
    }
    const QJsonObject object = CommandMessages::parse(message);
    const QString command = CommandMessages::commandOf(object);
    // Answers to questions come as fast as the viewers ask, which their own limit bounds.
    if (command == "question_stored" && message.size() <= kMaxPresenterTextChars) {
        if (const auto waiting = m_questionsWaiting.take(qint64(object.value("id").toDouble())))
            waiting(object.value("stored").toBool());
        return;
    }
    if (command == "questions") {
        takeQuestionList(message);
        return;
    }
    if (message.size() > kMaxPresenterTextChars || !m_presenterTexts.take()) {
        dropPresenterText(message);
        return;
    }
    if (command == "vote_start") {
        int elsewhere = 0;
        const QList<RoomLink::Node> nodes =
            m_link ? m_link->remoteNodes() : QList<RoomLink::Node>();
        for (const RoomLink::Node &node : nodes)
            elsewhere += node.audience.commandViewers;
        if (m_link)
            m_link->publishCommand(message);
        m_room.startVote(message, elsewhere);
    } else if (command == "vote_stop" || command == "random_game_tick") {
        relayCommand(message);
    } else if (command == "quiz_question" || command == "quiz_question_end" ||
               command == "quiz_leaderboard") {
        if (command == "quiz_question")
            m_quizAnswers.clear();
        relayCommand(message);
    } else if (command == "random_game_finish_all") {
        drawWinner(object);
    } else {
        qDebug() << "room" << m_id << "ignores presenter command" << command;
    }
}

void CloudRoom::dropPresenterText(const QString &message)
{
    if (m_dropLog.admit())
        qWarning() << "room" << m_id << "drops a presenter message of" << message.size()
                   << "characters (too long or too fast)";
}

void CloudRoom::takeQuestionList(const QString &message)
{
    m_questionList = message;
    m_questionListUnsent = true;
    if (!m_questionListPace.isActive())
        sendQuestionList();
}

void CloudRoom::sendQuestionList()
{
    if (!std::exchange(m_questionListUnsent, false))
        return;
    relayCommand(m_questionList);
    m_questionListPace.start();
}

void CloudRoom::drawWinner(const QJsonObject &finish)
{
    // One draw among the tickets of every node: the winner is a place in that line, here or on
    // one other node.
    const QList<RoomLink::Node> nodes = m_link ? m_link->remoteNodes() : QList<RoomLink::Node>();
    const int tickets = m_room.tickets();
    qint64 everyone = tickets;
    for (const RoomLink::Node &node : nodes)
        everyone += node.audience.commandViewers;
    if (everyone == 0)
        return;
    // The operating system's random source: nobody can work the winner out in advance.
    qint64 place = qint64(QRandomGenerator::system()->bounded(quint32(everyone)));
    const int localWinner = place < tickets ? int(place) : -1;
    place -= tickets;
    QByteArray winnerNode;
    for (const RoomLink::Node &node : nodes) {
        if (place >= 0 && place < node.audience.commandViewers) {
            winnerNode = node.id;
            break;
        }
        place -= node.audience.commandViewers;
    }
    m_room.sendFinish(finish, localWinner);
    if (m_link) {
        QJsonObject remote = finish;
        remote.insert("winner_node", QString::fromUtf8(winnerNode));
        remote.insert("winner_index", int(qMax<qint64>(place, 0)));
        m_link->publishCommand(
            QString::fromUtf8(QJsonDocument(remote).toJson(QJsonDocument::Compact)));
    }
}

void CloudRoom::countVote(const QHostAddress &viewer, int option)
{
    if (!m_presenter && m_link)
        m_link->forwardVote(viewer, option);
    else
        m_room.countVote(viewer, option);
}

void CloudRoom::passViewerMessage(const QHostAddress &viewer, const QJsonObject &message)
{
    // Nothing else a viewer sends means anything to the presenter.
    const QString command = CommandMessages::commandOf(message);
    if (command != "quiz_answer" && command != "question_upvote")
        return;
    if (!m_presenter && m_link) {
        m_link->forwardViewerMessage(viewer, message);
        return;
    }
    if (!m_presenter)
        return;
    if (command == "quiz_answer")
        passQuizAnswer(viewer, message);
    else
        sendToPresenter(CommandMessages::forwardedUpvote(viewerKey(viewer), message));
}

QString CloudRoom::viewerKey(const QHostAddress &viewer) const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(m_viewerKeySecret + viewer.toString().toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(32));
}

void CloudRoom::passQuizAnswer(const QHostAddress &viewer, const QJsonObject &message)
{
    QuizMessages::Answer answer = QuizMessages::answer(message);
    if (answer.number <= 0 || answer.option <= 0)
        return;
    answer.nickname = answer.nickname.left(QuizPlay::kMaxNicknameLength);
    const QString forwarded = QuizMessages::forwardedAnswer(viewerKey(viewer), answer);
    QString &last = m_quizAnswers[viewer];
    if (last == forwarded)
        return;
    last = forwarded;
    sendToPresenter(forwarded);
}

void CloudRoom::relayCommand(const QString &message)
{
    if (m_link)
        m_link->publishCommand(message);
    m_room.sendCommand(message);
}

void CloudRoom::onPresenterGone(QWebSocket *presenter)
{
    if (presenter != m_presenter)
        return;
    qInfo() << "room" << m_id << "presenter left";
    m_presenter.clear();
    presenter->deleteLater();
    m_graceTimer.start();
    audienceChanged();
    if (m_room.isEmpty())
        emit emptied();
}

void CloudRoom::presenterGone()
{
    if (m_presenter)
        return;
    if (!m_link) {
        closeAll();
        return;
    }
    // The studio may have come back on another node: its viewers here go on watching it there.
    QPointer<CloudRoom> self(this);
    m_link->askLive([self](CloudCluster::Liveness liveness) {
        if (!self || self->m_presenter)
            return;
        if (liveness == CloudCluster::Liveness::Gone)
            self->closeAll();
        else if (liveness == CloudCluster::Liveness::Unknown)
            qInfo() << "room" << self->m_id
                    << "keeps its viewers: the cluster is out of reach, the presenter is asked "
                       "for again once it is back";
    });
}

void CloudRoom::closeAll()
{
    qInfo() << "room" << m_id << "closed: its presenter has gone";
    // Each viewer's disconnection frees the room once the last has gone.
    if (m_room.isEmpty())
        emit emptied();
    else
        m_room.closeAll();
}

void CloudRoom::audienceChanged()
{
    if (!m_link)
        return;
    m_link->update();
    m_link->audienceChanged();
}
