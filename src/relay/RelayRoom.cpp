#include "relay/RelayRoom.h"

#include "net/AddressKey.h"
#include "relay/CommandMessages.h"
#include "relay/ViewerChannel.h"
#include "relay/WebSocketFrame.h"

#include <QDebug>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSet>
#include <QTcpSocket>
#include <QWebSocket>

#include <utility>

RelayRoom::RelayRoom(int maxViewers, QObject *parent) : QObject(parent), m_maxViewers(maxViewers)
{
    m_stallCheck.setInterval(kStallCheckMs);
    connect(&m_stallCheck, &QTimer::timeout, this, &RelayRoom::dropStalled);
}

RelayRoom::~RelayRoom() = default;

bool RelayRoom::addVideoViewer(QWebSocket *viewer, QTcpSocket *transport)
{
    if (!transport || m_videoViewers.size() >= m_maxViewers)
        return false;
    // The head start holds what has arrived but not gone out yet: it goes out first, to the
    // others, or this viewer would get it twice.
    flushStream();
    new ViewerChannel(viewer, transport, ViewerChannel::Kind::Video);
    m_fanOut.add(viewer, transport);
    m_videoViewers.append(viewer);
    connect(viewer, &QWebSocket::disconnected, this, [this, viewer] { onDisconnected(viewer); });
    if (!m_stallCheck.isActive())
        m_stallCheck.start();
    // First: a cloud node that has only viewers starts asking for the head start here.
    emit audienceChanged();
    if (m_holdingHeadStarts)
        m_awaitingHeadStart.append(viewer);
    else
        sendHeadStarts(viewer);
    return true;
}

bool RelayRoom::addCommandViewer(QWebSocket *viewer, QTcpSocket *transport)
{
    if (!transport || m_commandViewers.size() >= m_maxViewers)
        return false;
    auto *channel = new ViewerChannel(viewer, transport, ViewerChannel::Kind::Commands);
    connect(channel, &ViewerChannel::textMessage, this,
            [this, viewer](const QString &message) { onViewerText(viewer, message); });
    m_commandViewers.append(viewer);
    connect(viewer, &QWebSocket::disconnected, this, [this, viewer] { onDisconnected(viewer); });
    for (const QString &message : m_quizCatchUp.forJoiner())
        sendText(viewer, message);
    if (!m_questionList.isEmpty())
        sendText(viewer, m_questionList);
    emit audienceChanged();
    return true;
}

bool RelayRoom::fullFor(const QHostAddress &address) const
{
    const QHostAddress from = AddressKey::of(address);
    int held = 0;
    for (const ConnectionOrder<QWebSocket> *viewers : {&m_videoViewers, &m_commandViewers})
        for (const QWebSocket *viewer : viewers->toList())
            held += AddressKey::of(viewer->peerAddress()) == from;
    return held >= kMaxViewersPerAddress;
}

void RelayRoom::closeAll()
{
    // Each viewer's disconnection is reported as it comes; emptied() with the last.
    const QList<QWebSocket *> viewers = m_videoViewers.toList() + m_commandViewers.toList();
    for (QWebSocket *viewer : viewers)
        viewer->abort();
}

void RelayRoom::takeStream(const QByteArray &packets, quintptr source)
{
    if (packets.isEmpty())
        return;
    if (!m_unsent.isEmpty() && source != m_unsentSource)
        flushStream();
    m_headStarts[source].append(packets);
    m_unsentSource = source;
    // The messages that arrived together go out as one: a busy relay sends fewer, larger chunks
    // instead of falling behind.
    const bool first = m_unsent.isEmpty();
    m_unsent += packets;
    if (first)
        QTimer::singleShot(0, this, &RelayRoom::flushStream);
}

void RelayRoom::flushStream()
{
    if (m_unsent.isEmpty())
        return;
    const QByteArray packets = std::exchange(m_unsent, QByteArray());
    emit streamFlushed(packets);
    const VideoFanOut::Broadcast sent = m_fanOut.broadcast(
        m_videoViewers.toList(), WebSocketFrame::binary(packets), kMaxViewerBacklogBytes);
    m_sentBytes += qint64(packets.size()) * sent.delivered;
    for (QWebSocket *viewer : sent.dropped)
        dropVideoViewer(viewer);
}

void RelayRoom::endSource(quintptr source)
{
    if (source == m_unsentSource)
        flushStream();
    m_headStarts.erase(source);
}

void RelayRoom::startFrom(const QByteArray &head)
{
    flushStream();
    m_headStarts.clear();
    m_headStarts[0].restart(head);
    m_holdingHeadStarts = false;
    const QList<QPointer<QWebSocket>> joined = std::exchange(m_awaitingHeadStart, {});
    for (const QPointer<QWebSocket> &viewer : joined)
        if (viewer && m_videoViewers.contains(viewer))
            sendHeadStarts(viewer);
}

void RelayRoom::restartJoinCache()
{
    for (auto &source : m_headStarts)
        source.second.restart();
}

QByteArray RelayRoom::joinCopy()
{
    flushStream();
    const auto found = m_headStarts.find(0);
    return found == m_headStarts.end() ? QByteArray() : found->second.contents();
}

void RelayRoom::sendHeadStarts(QWebSocket *viewer)
{
    for (auto &source : m_headStarts) {
        const QList<QByteArray> frames = source.second.frames();
        bool sent = !frames.isEmpty();
        for (const QByteArray &frame : frames)
            sent = sent && m_fanOut.sendHeadStart(viewer, frame);
        if (sent)
            m_sentBytes += source.second.contents().size();
    }
}

void RelayRoom::sendCommand(const QString &text)
{
    passCommand(CommandMessages::parse(text), text);
}

void RelayRoom::passCommand(const QJsonObject &message, const QString &text)
{
    m_quizCatchUp.note(message, text);
    if (CommandMessages::commandOf(message) == "questions")
        m_questionList = text;
    sendToCommandViewers(text);
}

void RelayRoom::startVote(const QString &message, int elsewhere)
{
    m_votes.clear();
    m_voteRecipients = commandViewers() + elsewhere;
    sendToCommandViewers(message);
}

void RelayRoom::countVote(const QHostAddress &viewer, int option)
{
    if (option > 0)
        m_votes.insert(viewer, option);
}

VoteState::Tally RelayRoom::voteResults() const
{
    return VoteState::counted(m_votes, m_voteRecipients);
}

void RelayRoom::draw(const QJsonObject &finish)
{
    const int holders = tickets();
    if (holders == 0) {
        qDebug() << "no clients";
        return;
    }
    // The operating system's random source: the draw cannot be predicted from the moment of the
    // game, nor from earlier draws.
    sendFinish(finish, int(QRandomGenerator::system()->bounded(quint32(holders))));
}

void RelayRoom::sendFinish(const QJsonObject &finish, int winnerIndex)
{
    const QList<QWebSocket *> viewers = m_commandViewers.toList();
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
        sendText(viewer, viewer == winning ? winner : loser);
}

QList<QWebSocket *> RelayRoom::ticketHolders() const
{
    QList<QWebSocket *> holders;
    QSet<QHostAddress> seen;
    for (QWebSocket *viewer : m_commandViewers.toList()) {
        const QHostAddress address = AddressKey::of(viewer->peerAddress());
        if (!seen.contains(address)) {
            seen.insert(address);
            holders.append(viewer);
        }
    }
    return holders;
}

void RelayRoom::onViewerText(QWebSocket *viewer, const QString &message)
{
    const QJsonObject object = CommandMessages::parse(message);
    auto *channel = viewer->findChild<ViewerChannel *>(QString(), Qt::FindDirectChildrenOnly);
    if (channel && channel->logBudget().admit()) {
        if (const int leftOut = channel->logBudget().takeLeftOut())
            qDebug() << leftOut << "messages from" << channel->peer() << "left out of the log";
        qDebug() << "WS MESSAGE:" << LogBudget::quoted(message);
        qDebug() << "OBJECT:"
                 << LogBudget::quoted(
                        QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    }
    const QString command = CommandMessages::commandOf(object);
    const QHostAddress address = viewer->peerAddress();
    if (command == "vote_result") {
        const int option = CommandMessages::voteResultOption(object);
        if (option > 0)
            emit voteCast(address, option);
        return;
    }
    if ((command == "quiz_answer" && !m_quizAnswerBuckets.take(address)) ||
        (command == "question_upvote" && !m_upvoteBuckets.take(address)))
        return;
    emit viewerMessage(address, object);
}

bool RelayRoom::sendText(QWebSocket *viewer, const QString &message)
{
    auto *channel = viewer->findChild<ViewerChannel *>(QString(), Qt::FindDirectChildrenOnly);
    return channel && channel->sendText(message);
}

void RelayRoom::sendToCommandViewers(const QString &message)
{
    const QList<QWebSocket *> viewers = m_commandViewers.toList();
    for (QWebSocket *viewer : viewers)
        sendText(viewer, message);
}

void RelayRoom::dropStalled()
{
    if (m_videoViewers.isEmpty()) {
        m_stallCheck.stop();
        return;
    }
    // With no stream coming, nothing else would find a viewer that stopped reading.
    for (QWebSocket *viewer : m_fanOut.stalled(kMaxViewerBacklogBytes))
        dropVideoViewer(viewer);
}

void RelayRoom::dropVideoViewer(QWebSocket *viewer)
{
    m_videoViewers.removeAll(viewer);
    m_fanOut.remove(viewer);
    // abort() rather than close(): a close frame would queue behind the backlog.
    viewer->abort();
    m_heapTrimmer.soon();
}

void RelayRoom::onDisconnected(QWebSocket *viewer)
{
    if (auto *channel = viewer->findChild<ViewerChannel *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (const int leftOut = channel->logBudget().takeLeftOut())
            qDebug() << leftOut << "lines about" << channel->peer() << "left out of the log";
    }
    m_videoViewers.removeAll(viewer);
    m_commandViewers.removeAll(viewer);
    m_fanOut.remove(viewer);
    viewer->deleteLater();
    m_heapTrimmer.soon();
    emit audienceChanged();
    if (isEmpty())
        emit emptied();
}
