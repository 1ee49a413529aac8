#include "cloud/CloudRoom.h"

#include "audience/VoteState.h"
#include "cloud/RoomLink.h"
#include "net/AddressKey.h"
#include "quiz/QuizMessages.h"
#include "relay/CommandMessages.h"
#include "relay/WSServer.h"
#include "relay/WebSocketFrame.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSet>
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
    : QObject(parent), m_id(id), m_maxViewers(maxViewers),
      m_viewerKeySecret(randomBytes(kViewerKeySecretBytes)),
      m_link(cluster ? std::make_unique<RoomLink>(cluster, this) : nullptr)
{
    m_graceTimer.setSingleShot(true);
    m_graceTimer.setInterval(kPresenterGraceMs);
    connect(&m_graceTimer, &QTimer::timeout, this, &CloudRoom::presenterGone);
    m_questionListPace.setSingleShot(true);
    m_questionListPace.setInterval(kQuestionListIntervalMs);
    connect(&m_questionListPace, &QTimer::timeout, this, &CloudRoom::sendQuestionList);
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
    m_joinCache = JoinCache();
    connect(presenter, &QWebSocket::binaryMessageReceived, this, &CloudRoom::onPresenterStream);
    connect(presenter, &QWebSocket::textMessageReceived, this, &CloudRoom::onPresenterCommand);
    connect(presenter, &QWebSocket::pong, this, [this] { m_presenterHeard.start(); });
    connect(presenter, &QWebSocket::disconnected, this,
            [this, presenter] { onDisconnected(presenter); });
    qInfo() << "room" << m_id << "presenter from" << presenter->peerAddress().toString();
    if (m_link)
        m_link->update();
    return true;
}

bool CloudRoom::addVideoViewer(QWebSocket *viewer, QTcpSocket *transport)
{
    if (m_videoViewers.size() >= m_maxViewers)
        return false;
    // The head start holds what has arrived but not gone out yet: it goes out first, to the
    // others, or this viewer would get it twice.
    sendStream();
    m_fanOut.add(viewer, transport);
    m_videoViewers.append(viewer);
    capOutbound(viewer, transport);
    connect(viewer, &QWebSocket::disconnected, this, [this, viewer] { onDisconnected(viewer); });
    audienceChanged();
    if (m_link && m_link->joining()) {
        m_awaitingHeadStart.append(viewer);
        return true;
    }
    const QByteArray &cached = m_joinCache.contents();
    if (!cached.isEmpty() && m_fanOut.sendHeadStart(viewer, WebSocketFrame::binary(cached)))
        m_sentBytes += cached.size();
    return true;
}

bool CloudRoom::addCommandViewer(QWebSocket *viewer, QTcpSocket *transport)
{
    if (m_commandViewers.size() >= m_maxViewers)
        return false;
    m_commandViewers.append(viewer);
    capOutbound(viewer, transport);
    connect(viewer, &QWebSocket::textMessageReceived, this, &CloudRoom::onViewerCommand);
    connect(viewer, &QWebSocket::disconnected, this, [this, viewer] { onDisconnected(viewer); });
    for (const QString &message : m_quizCatchUp.forJoiner())
        viewer->sendTextMessage(message);
    if (!m_questionList.isEmpty())
        viewer->sendTextMessage(m_questionList);
    audienceChanged();
    return true;
}

bool CloudRoom::fullFor(const QHostAddress &address) const
{
    const QHostAddress from = AddressKey::of(address);
    int held = 0;
    for (const QList<QWebSocket *> *viewers : {&m_videoViewers, &m_commandViewers})
        for (const QWebSocket *viewer : *viewers)
            held += AddressKey::of(viewer->peerAddress()) == from;
    return held >= kMaxViewersPerAddress;
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
    m_presenter->sendTextMessage(CommandMessages::questionMessage(questionJson, id));
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
    int viewers = videoViewers();
    qint64 sentBytes = m_sentBytes;
    const QList<RoomLink::Node> nodes = m_link ? m_link->remoteNodes() : QList<RoomLink::Node>();
    for (const RoomLink::Node &node : nodes) {
        viewers += node.audience.videoViewers;
        sentBytes += node.audience.sentBytes;
    }
    const int totalBytes = int(sentBytes % (qint64(1) << 31));
    m_presenter->sendTextMessage(CommandMessages::statInfoMessage(
        viewers, totalBytes, VoteState::counted(m_votes, m_voteRecipients)));
    m_presenter->ping();
}

void CloudRoom::onPresenterStream(const QByteArray &message)
{
    m_presenterHeard.start();
    takeStream(m_aligner.take(message));
}

void CloudRoom::takeStream(const QByteArray &packets)
{
    if (packets.isEmpty())
        return;
    m_joinCache.append(packets);
    // The messages that arrived together go out as one: the local relay reads its ingest the
    // same way, so a busy relay sends fewer, larger chunks instead of falling behind.
    m_unsent += packets;
    if (m_unsent.size() == packets.size())
        QTimer::singleShot(0, this, &CloudRoom::sendStream);
}

void CloudRoom::flushStream()
{
    sendStream();
}

void CloudRoom::startFrom(const QByteArray &head)
{
    sendStream();
    m_joinCache = JoinCache();
    m_joinCache.append(head);
    const QByteArray &cached = m_joinCache.contents();
    const QList<QPointer<QWebSocket>> joined = std::exchange(m_awaitingHeadStart, {});
    if (cached.isEmpty())
        return;
    const QByteArray frame = WebSocketFrame::binary(cached);
    for (const QPointer<QWebSocket> &viewer : joined)
        if (viewer && m_videoViewers.contains(viewer) && m_fanOut.sendHeadStart(viewer, frame))
            m_sentBytes += cached.size();
}

void CloudRoom::restartJoinCache()
{
    m_joinCache = JoinCache();
}

void CloudRoom::sendStream()
{
    if (m_unsent.isEmpty())
        return;
    const QByteArray packets = std::exchange(m_unsent, QByteArray());
    // The other nodes first: their viewers have the longer way.
    if (m_link)
        m_link->publishStream(packets);
    const VideoFanOut::Broadcast sent = m_fanOut.broadcast(
        m_videoViewers, WebSocketFrame::binary(packets), WSServer::kMaxViewerBacklogBytes);
    m_sentBytes += qint64(packets.size()) * sent.delivered;
    for (QWebSocket *viewer : sent.dropped)
        dropVideoViewer(viewer);
}

void CloudRoom::onPresenterCommand(const QString &message)
{
    m_presenterHeard.start();
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
        if (m_dropLog.admit())
            qWarning() << "room" << m_id << "drops a presenter message of" << message.size()
                       << "characters (too long or too fast)";
        return;
    }
    if (command == "vote_start") {
        m_votes.clear();
        m_voteRecipients = commandViewers();
        const QList<RoomLink::Node> nodes =
            m_link ? m_link->remoteNodes() : QList<RoomLink::Node>();
        for (const RoomLink::Node &node : nodes)
            m_voteRecipients += node.audience.commandViewers;
        relayCommand(message);
    } else if (command == "vote_stop" || command == "random_game_tick") {
        relayCommand(message);
    } else if (command == "quiz_question" || command == "quiz_question_end" ||
               command == "quiz_leaderboard") {
        if (command == "quiz_question")
            m_quizAnswers.clear();
        m_quizCatchUp.note(object, message);
        relayCommand(message);
    } else if (command == "random_game_finish_all") {
        drawWinner(object);
    } else {
        qDebug() << "room" << m_id << "ignores presenter command" << command;
    }
}

void CloudRoom::takeQuestionList(const QString &message)
{
    if (message.size() > kMaxQuestionListChars) {
        if (m_dropLog.admit())
            qWarning() << "room" << m_id << "drops a question list of" << message.size()
                       << "characters";
        return;
    }
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
    // One draw among the command viewers of every node: the winner is a place in that line,
    // here or on one other node.
    const QList<RoomLink::Node> nodes = m_link ? m_link->remoteNodes() : QList<RoomLink::Node>();
    const int tickets = int(ticketHolders().size());
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
    sendFinish(finish, localWinner);
    if (m_link) {
        QJsonObject remote = finish;
        remote.insert("winner_node", QString::fromUtf8(winnerNode));
        remote.insert("winner_index", int(qMax<qint64>(place, 0)));
        m_link->publishCommand(
            QString::fromUtf8(QJsonDocument(remote).toJson(QJsonDocument::Compact)));
    }
}

void CloudRoom::sendFinish(const QJsonObject &finish, int winnerIndex)
{
    const QList<QWebSocket *> viewers = m_commandViewers;
    // One ticket per address, as one vote: many sockets from one machine win no more often.
    const QList<QWebSocket *> holders = ticketHolders();
    if (viewers.isEmpty())
        return;
    const QString winner = CommandMessages::randomGameFinishWinner(
        finish.value("win_txt").toString(), finish.value("win_code").toString());
    const QString loser =
        CommandMessages::randomGameFinishLoser(finish.value("lose_txt").toString());
    // Viewers left since the count was reported: the winner is still one of those here.
    if (winnerIndex >= holders.size())
        winnerIndex = int(QRandomGenerator::system()->bounded(quint32(holders.size())));
    QWebSocket *winning = winnerIndex >= 0 ? holders.at(winnerIndex) : nullptr;
    for (QWebSocket *viewer : viewers)
        viewer->sendTextMessage(viewer == winning ? winner : loser);
}

void CloudRoom::onViewerCommand(const QString &message)
{
    const QJsonObject object = CommandMessages::parse(message);
    auto *viewer = qobject_cast<QWebSocket *>(sender());
    if (!viewer)
        return;
    const QString command = CommandMessages::commandOf(object);
    const QHostAddress address = viewer->peerAddress();
    if ((command == "quiz_answer" && m_quizAnswerBuckets.take(address)) ||
        (command == "question_upvote" && m_upvoteBuckets.take(address)))
        passViewerMessage(address, object);
    if (command == "vote_result")
        countVote(address, CommandMessages::voteResultOption(object));
}

void CloudRoom::countVote(const QHostAddress &viewer, int option)
{
    if (option <= 0)
        return;
    if (!m_presenter && m_link)
        m_link->forwardVote(viewer, option);
    else
        m_votes.insert(viewer, option);
}

void CloudRoom::passViewerMessage(const QHostAddress &viewer, const QJsonObject &message)
{
    if (!m_presenter && m_link) {
        m_link->forwardViewerMessage(viewer, message);
        return;
    }
    if (!m_presenter)
        return;
    const QString command = CommandMessages::commandOf(message);
    if (command == "quiz_answer")
        passQuizAnswer(viewer, message);
    else if (command == "question_upvote")
        m_presenter->sendTextMessage(CommandMessages::forwardedUpvote(viewerKey(viewer), message));
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
    m_presenter->sendTextMessage(forwarded);
}

void CloudRoom::relayCommand(const QString &message)
{
    if (m_link)
        m_link->publishCommand(message);
    sendToCommandViewers(message);
}

void CloudRoom::passCommand(const QJsonObject &message, const QString &text)
{
    // Joiners here catch up on a quiz and the questions as those on the presenter's node do.
    m_quizCatchUp.note(message, text);
    if (CommandMessages::commandOf(message) == "questions")
        m_questionList = text;
    sendToCommandViewers(text);
}

void CloudRoom::sendToCommandViewers(const QString &message)
{
    const QList<QWebSocket *> viewers = m_commandViewers;
    for (QWebSocket *viewer : viewers)
        if (!overOutboundCap(viewer))
            viewer->sendTextMessage(message);
}

void CloudRoom::capOutbound(QWebSocket *viewer, QTcpSocket *transport)
{
    if (!transport)
        return;
    m_transports.insert(viewer, transport);
    // After the socket's own handler: by then its answers to pings are queued.
    connect(transport, &QTcpSocket::readyRead, viewer, [this, viewer] { overOutboundCap(viewer); });
}

bool CloudRoom::overOutboundCap(QWebSocket *viewer)
{
    const QPointer<QTcpSocket> transport = m_transports.value(viewer);
    if (!transport || transport->bytesToWrite() <= kMaxViewerTextBacklogBytes)
        return false;
    if (m_dropLog.admit())
        qWarning() << "room" << m_id << "drops a viewer from" << viewer->peerAddress().toString()
                   << "that does not read:" << transport->bytesToWrite() << "bytes unsent";
    if (m_videoViewers.contains(viewer))
        dropVideoViewer(viewer);
    else
        viewer->abort();
    return true;
}

QList<QWebSocket *> CloudRoom::ticketHolders() const
{
    QList<QWebSocket *> holders;
    QSet<QHostAddress> seen;
    for (QWebSocket *viewer : m_commandViewers) {
        const QHostAddress address = AddressKey::of(viewer->peerAddress());
        if (!seen.contains(address)) {
            seen.insert(address);
            holders.append(viewer);
        }
    }
    return holders;
}

void CloudRoom::dropVideoViewer(QWebSocket *viewer)
{
    m_videoViewers.removeAll(viewer);
    m_fanOut.remove(viewer);
    // abort() rather than close(): a close frame would queue behind the backlog.
    viewer->abort();
}

void CloudRoom::onDisconnected(QWebSocket *socket)
{
    if (socket == m_presenter) {
        qInfo() << "room" << m_id << "presenter left";
        m_presenter.clear();
        m_graceTimer.start();
    }
    m_videoViewers.removeAll(socket);
    m_commandViewers.removeAll(socket);
    m_transports.remove(socket);
    m_fanOut.remove(socket);
    socket->deleteLater();
    audienceChanged();
    if (!m_presenter && m_videoViewers.isEmpty() && m_commandViewers.isEmpty())
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
    m_link->askLive([self](bool live) {
        if (self && !self->m_presenter && !live)
            self->closeAll();
    });
}

void CloudRoom::closeAll()
{
    qInfo() << "room" << m_id << "closed: its presenter has gone";
    const QList<QWebSocket *> viewers = m_videoViewers + m_commandViewers;
    // Each viewer's disconnection frees the room once the last has gone.
    for (QWebSocket *viewer : viewers)
        viewer->abort();
    if (viewers.isEmpty())
        emit emptied();
}

void CloudRoom::audienceChanged()
{
    if (!m_link)
        return;
    m_link->update();
    m_link->audienceChanged();
}
