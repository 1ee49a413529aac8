#include "relay/WSServer.h"

#include "relay/CommandMessages.h"
#include "relay/TsPacketAligner.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// QWebSocket offers no socket options, but Linux hands a listening socket's
// TCP_NODELAY down to every socket it accepts. Without it Nagle's algorithm
// holds a chunk back while the viewer's delayed ACK for the previous one is
// outstanding: tens of milliseconds of lag for nothing.
void enableNoDelayForViewers(qintptr listeningSocket)
{
    const int on = 1;
    if (::setsockopt(int(listeningSocket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        qWarning() << "WS-SERVER could not disable Nagle for viewers";
}

} // namespace

WSServer::WSServer()
    : wsServer(new QWebSocketServer("LumacastPRO Server", QWebSocketServer::NonSecureMode, this))
{
    connect(&ingestServer, &QTcpServer::newConnection, this, &WSServer::onNewConnection);
}

void WSServer::start(const QString &address, int port)
{
    receivedBytes = 0;
    sentBytes = 0;
    if (wsServer->isListening())
        return;
    if (!wsServer->listen(QHostAddress(address), static_cast<quint16>(port))) {
        qWarning() << "WS-SERVER listen failed on" << address << port << wsServer->errorString();
        return;
    }
    qDebug() << "START WS-SERVER";
    enableNoDelayForViewers(wsServer->nativeDescriptor());
    connect(wsServer, &QWebSocketServer::newConnection, this, &WSServer::onConnect,
            Qt::UniqueConnection);
    if (!ingestServer.listen(QHostAddress("127.0.0.1"), kIngestPort))
        qWarning() << "relay ingest listen failed on 127.0.0.1:" << kIngestPort
                   << ingestServer.errorString();
}

void WSServer::stop()
{
    ingestServer.close();
    wsServer->close();
}

bool WSServer::isListening() const
{
    return wsServer->isListening();
}

quint16 WSServer::serverPort() const
{
    return wsServer->serverPort();
}

QVector<qint32> WSServer::voteResults() const
{
    QVector<qint32> tally(kTallySize, 0);
    for (const qint32 option : votes)
        if (option >= 1 && option < kTallySize)
            ++tally[option];
    tally[0] = voteRecipients;
    return tally;
}

void WSServer::onConnect()
{
    QWebSocket *socket = wsServer->nextPendingConnection();
    if (!socket)
        return;
    // Owned by the relay, so sockets still open, or closed but not yet deleted,
    // go with it.
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxIncomingMessageBytes);
    connect(socket, &QWebSocket::disconnected, this, &WSServer::onDisconnect);

    const QString path = socket->requestUrl().path();
    if (path.endsWith("/readvideo")) {
        qDebug() << "new video consumer";
        videoConsumers.append(socket);
    } else if (path.endsWith("/cmdchannel")) {
        qDebug() << "new cmdchannel consumer";
        connect(socket, &QWebSocket::textMessageReceived, this, &WSServer::processTextMessage);
        cmdConsumers.append(socket);
    }
}

void WSServer::onDisconnect()
{
    qDebug() << "WS-CLIENT DISCONNECT";
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket)
        return;
    videoConsumers.removeAll(socket);
    cmdConsumers.removeAll(socket);
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    socket->deleteLater();
}

void WSServer::processTextMessage(QString message)
{
    qDebug() << "WS MESSAGE:" << message;
    const QJsonObject object = CommandMessages::parse(message);
    qDebug() << "OBJECT:" << object;
    if (CommandMessages::commandOf(object) != "vote_result")
        return;
    auto *socket = qobject_cast<QWebSocket *>(sender());
    const int option = CommandMessages::voteResultOption(object);
    if (socket && option > 0)
        votes.insert(socket->peerAddress(), option);
}

void WSServer::onNewConnection()
{
    qDebug() << "new connection to relay";
    QTcpSocket *socket = ingestServer.nextPendingConnection();
    if (!socket)
        return;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto aligner = std::make_shared<TsPacketAligner>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, aligner] {
        const QByteArray chunk = socket->readAll();
        receivedBytes += chunk.size();
        const QByteArray packets = aligner->take(chunk);
        if (!packets.isEmpty())
            forwardIngest(packets);
    });
    // A writer reconnects on every session start; release the old connection.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void WSServer::forwardIngest(const QByteArray &packets)
{
    const QList<QWebSocket *> snapshot = videoConsumers;
    for (QWebSocket *socket : snapshot) {
        socket->sendBinaryMessage(packets);
        socket->flush();
        sentBytes += packets.size();
        if (socket->bytesToWrite() > kMaxViewerBacklogBytes)
            dropViewer(socket);
    }
}

void WSServer::dropViewer(QWebSocket *socket)
{
    qWarning() << "closing slow viewer" << socket->peerAddress().toString() << "with"
               << socket->bytesToWrite() << "bytes unsent";
    videoConsumers.removeAll(socket);
    cmdConsumers.removeAll(socket);
    // abort() rather than close(): a close frame would queue behind the backlog.
    socket->abort();
}

void WSServer::sendToCommandConsumers(const QString &message)
{
    const QList<QWebSocket *> snapshot = cmdConsumers;
    for (QWebSocket *socket : snapshot)
        socket->sendTextMessage(message);
}

void WSServer::onRandomGameTick(QString clr, int proc)
{
    sendToCommandConsumers(CommandMessages::randomGameTick(clr, proc));
}

void WSServer::onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code)
{
    const QString winner = CommandMessages::randomGameFinishWinner(win_txt, win_code);
    const QString loser = CommandMessages::randomGameFinishLoser(lose_txt);
    const QList<QWebSocket *> snapshot = cmdConsumers;
    if (snapshot.isEmpty()) {
        qDebug() << "no clients";
        return;
    }
    const int winnerIndex = static_cast<int>(
        QRandomGenerator::global()->bounded(static_cast<quint32>(snapshot.size())));
    qDebug() << "win index:" << winnerIndex;
    for (int i = 0; i < snapshot.size(); ++i)
        snapshot[i]->sendTextMessage(i == winnerIndex ? winner : loser);
}

void WSServer::onVoteStart(QString title, QStringList opts)
{
    votes.clear();
    voteRecipients = 0;
    const QString message = CommandMessages::voteStart(title, opts);
    const QList<QWebSocket *> snapshot = cmdConsumers;
    for (QWebSocket *socket : snapshot) {
        socket->sendTextMessage(message);
        ++voteRecipients;
    }
}

void WSServer::onVoteStop()
{
    sendToCommandConsumers(CommandMessages::voteStop());
}
