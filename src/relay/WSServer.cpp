#include "relay/WSServer.h"

#include "net/AcceptBackoff.h"
#include "relay/CommandMessages.h"
#include "relay/ViewerAcceptor.h"
#include "relay/ViewerChannel.h"
#include "relay/WebSocketFrame.h"

#include <QDebug>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

WSServer::WSServer(quint16 ingestPort)
    : wsServer(new QWebSocketServer("LumacastPRO Server", QWebSocketServer::NonSecureMode, this)),
      m_acceptor(new ViewerAcceptor(wsServer, this)), m_ingestPort(ingestPort),
      m_ingestBackoff(&ingestServer, QStringLiteral("relay ingest"))
{
    connect(&ingestServer, &QTcpServer::newConnection, this, &WSServer::onNewConnection);
}

WSServer::~WSServer()
{
    // The ingest sockets outlive the stream table (they go with ingestServer); their last
    // signals must not reach it.
    for (QTcpSocket *socket : m_ingests.keys())
        disconnect(socket, nullptr, this, nullptr);
}

void WSServer::start(const QString &address, int port)
{
    receivedBytes = 0;
    sentBytes = 0;
    if (m_acceptor->isListening())
        return;
    if (!m_acceptor->listen(QHostAddress(address), static_cast<quint16>(port))) {
        qWarning() << "WS-SERVER listen failed on" << address << port << m_acceptor->errorString();
        return;
    }
    qDebug() << "START WS-SERVER";
    connect(wsServer, &QWebSocketServer::newConnection, this, &WSServer::onConnect,
            Qt::UniqueConnection);
    if (!ingestServer.listen(QHostAddress("127.0.0.1"), m_ingestPort))
        qWarning() << "relay ingest listen failed on 127.0.0.1:" << m_ingestPort
                   << ingestServer.errorString();
}

void WSServer::stop()
{
    ingestServer.close();
    m_acceptor->close();
    m_quizCatchUp.clear();
}

bool WSServer::isListening() const
{
    return m_acceptor->isListening();
}

quint16 WSServer::serverPort() const
{
    return m_acceptor->serverPort();
}

quint16 WSServer::ingestPort() const
{
    return ingestServer.isListening() ? ingestServer.serverPort() : m_ingestPort;
}

WSServer::Statistics WSServer::statistics() const
{
    return {receivedBytes, sentBytes, int(videoConsumers.size())};
}

QVector<qint32> WSServer::voteResults() const
{
    return VoteState::counted(votes, voteRecipients);
}

void WSServer::onConnect()
{
    QWebSocket *socket = wsServer->nextPendingConnection();
    if (!socket)
        return;
    // Owned by the relay, so sockets still open, or closed but not yet deleted,
    // go with it.
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, this, &WSServer::onDisconnect);
    QTcpSocket *transport = m_acceptor->takeTransport(socket);
    if (!transport) {
        socket->abort(); // not accepted through the relay's own listener
        return;
    }
    auto *channel = new ViewerChannel(socket, transport);
    const QString path = socket->requestUrl().path();
    if (path.endsWith("/readvideo")) {
        qDebug() << "new video consumer";
        m_fanOut.add(socket, transport);
        videoConsumers.append(socket);
        sendJoinCaches(socket);
    } else if (path.endsWith("/cmdchannel")) {
        qDebug() << "new cmdchannel consumer";
        connect(channel, &ViewerChannel::textMessage, this, &WSServer::processTextMessage);
        cmdConsumers.append(socket);
        for (const QString &message : m_quizCatchUp.forJoiner())
            sendCommandTo(socket, message);
        if (!m_questions.isEmpty())
            sendCommandTo(socket, m_questions);
    } else {
        // Nothing is served here; a socket left open would only hold a descriptor.
        QTimer::singleShot(kUnservedPathGraceMs, socket, [socket] {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("nothing is served on this path"));
        });
    }
}

void WSServer::onDisconnect()
{
    qDebug() << "WS-CLIENT DISCONNECT";
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket)
        return;
    if (auto *channel = socket->findChild<ViewerChannel *>(); channel) {
        if (const int leftOut = channel->logBudget().takeLeftOut())
            qDebug() << leftOut << "lines about" << channel->peer() << "left out of the log";
    }
    forgetViewer(socket);
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    socket->deleteLater();
    m_heapTrimmer.soon();
}

void WSServer::processTextMessage(QString message)
{
    auto *channel = qobject_cast<ViewerChannel *>(sender());
    const QJsonObject object = CommandMessages::parse(message);
    if (!channel || channel->logBudget().admit()) {
        if (const int leftOut = channel ? channel->logBudget().takeLeftOut() : 0)
            qDebug() << leftOut << "messages from" << channel->peer() << "left out of the log";
        qDebug() << "WS MESSAGE:" << LogBudget::quoted(message);
        qDebug() << "OBJECT:"
                 << LogBudget::quoted(
                        QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    }
    if (!channel)
        return;
    if (CommandMessages::commandOf(object) != "vote_result") {
        emit viewerCommand(channel->socket()->peerAddress().toString(), object);
        return;
    }
    const int option = CommandMessages::voteResultOption(object);
    if (option > 0)
        votes.insert(channel->socket()->peerAddress(), option);
}

void WSServer::sendCommand(QString message)
{
    const QJsonObject object = CommandMessages::parse(message);
    m_quizCatchUp.note(object, message);
    if (CommandMessages::commandOf(object) == "questions")
        m_questions = message;
    sendToCommandConsumers(message);
}

void WSServer::onNewConnection()
{
    qDebug() << "new connection to relay";
    QTcpSocket *socket = ingestServer.nextPendingConnection();
    if (!socket || !m_ingestPerAddress.admit(socket))
        return;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto stream = std::make_shared<IngestStream>();
    m_ingests.insert(socket, stream);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, stream] {
        const QByteArray chunk = socket->readAll();
        receivedBytes += chunk.size();
        const QByteArray packets = stream->aligner.take(chunk);
        if (const qint64 dropped = stream->aligner.takeDroppedBytes();
            dropped > 0 && stream->logBudget.admit())
            qWarning() << "relay ingest: dropped" << dropped
                       << "bytes that are not transport-stream packets";
        if (packets.isEmpty())
            return;
        stream->joinCache.append(packets);
        forwardIngest(packets);
        emit ingestPackets(quintptr(socket), packets);
    });
    // A writer reconnects on every session start; release the old connection.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_ingests.remove(socket);
        socket->deleteLater();
    });
}

void WSServer::sendJoinCaches(QWebSocket *viewer)
{
    for (const std::shared_ptr<IngestStream> &stream : qAsConst(m_ingests)) {
        const QByteArray &cached = stream->joinCache.contents();
        if (cached.isEmpty())
            continue;
        qDebug() << "late video consumer starts with" << cached.size() << "bytes";
        if (m_fanOut.sendHeadStart(viewer, WebSocketFrame::binary(cached)))
            sentBytes += cached.size();
    }
}

void WSServer::forwardIngest(const QByteArray &packets)
{
    const VideoFanOut::Broadcast sent = m_fanOut.broadcast(
        videoConsumers.toList(), WebSocketFrame::binary(packets), kMaxViewerBacklogBytes);
    sentBytes += qint64(packets.size()) * sent.delivered;
    for (QWebSocket *socket : sent.dropped)
        dropViewer(socket);
}

void WSServer::dropViewer(QWebSocket *socket)
{
    forgetViewer(socket);
    // abort() rather than close(): a close frame would queue behind the backlog.
    socket->abort();
    m_heapTrimmer.soon();
}

void WSServer::forgetViewer(QWebSocket *socket)
{
    videoConsumers.removeAll(socket);
    cmdConsumers.removeAll(socket);
    m_fanOut.remove(socket);
}

void WSServer::sendToCommandConsumers(const QString &message)
{
    const QList<QWebSocket *> snapshot = cmdConsumers.toList();
    for (QWebSocket *socket : snapshot)
        sendCommandTo(socket, message);
}

bool WSServer::sendCommandTo(QWebSocket *socket, const QString &message)
{
    auto *channel = socket->findChild<ViewerChannel *>(QString(), Qt::FindDirectChildrenOnly);
    if (channel)
        return channel->sendText(message);
    socket->sendTextMessage(message);
    return true;
}

void WSServer::onRandomGameTick(QString clr, int proc)
{
    sendToCommandConsumers(CommandMessages::randomGameTick(clr, proc));
}

void WSServer::onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code)
{
    const QString winner = CommandMessages::randomGameFinishWinner(win_txt, win_code);
    const QString loser = CommandMessages::randomGameFinishLoser(lose_txt);
    const QList<QWebSocket *> snapshot = cmdConsumers.toList();
    if (snapshot.isEmpty()) {
        qDebug() << "no clients";
        return;
    }
    // The operating system's random source: the draw cannot be predicted from the moment of the
    // game, nor from earlier draws.
    const int winnerIndex = static_cast<int>(
        QRandomGenerator::system()->bounded(static_cast<quint32>(snapshot.size())));
    qDebug() << "win index:" << winnerIndex;
    for (int i = 0; i < snapshot.size(); ++i)
        sendCommandTo(snapshot[i], i == winnerIndex ? winner : loser);
}

void WSServer::onVoteStart(QString title, QStringList opts)
{
    votes.clear();
    voteRecipients = 0;
    const QString message = CommandMessages::voteStart(title, opts);
    const QList<QWebSocket *> snapshot = cmdConsumers.toList();
    for (QWebSocket *socket : snapshot) {
        sendCommandTo(socket, message);
        ++voteRecipients;
    }
}

void WSServer::onVoteStop()
{
    sendToCommandConsumers(CommandMessages::voteStop());
}
