#include "relay/WSServer.h"

#include "net/AcceptBackoff.h"
#include "relay/CommandMessages.h"
#include "relay/ViewerAcceptor.h"

#include <QDebug>
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
    connect(&m_room, &RelayRoom::voteCast, &m_room, &RelayRoom::countVote);
    connect(&m_room, &RelayRoom::viewerMessage, this,
            [this](const QHostAddress &viewer, const QJsonObject &message) {
                emit viewerCommand(viewer.toString(), message);
            });
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
    m_room.setSentBytes(0);
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
    m_room.clearQuiz();
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
    return {receivedBytes, m_room.sentBytes(), m_room.videoViewers()};
}

QVector<qint32> WSServer::voteResults() const
{
    return m_room.voteResults();
}

void WSServer::onConnect()
{
    QWebSocket *socket = wsServer->nextPendingConnection();
    if (!socket)
        return;
    // Owned by the relay, so sockets still open, or closed but not yet deleted,
    // go with it.
    socket->setParent(this);
    QTcpSocket *transport = m_acceptor->takeTransport(socket);
    const QString path = socket->requestUrl().path();
    if (!transport) {
        socket->deleteLater();
        socket->abort(); // not accepted through the relay's own listener
    } else if (path.endsWith("/readvideo")) {
        qDebug() << "new video consumer";
        m_room.addVideoViewer(socket, transport);
    } else if (path.endsWith("/cmdchannel")) {
        qDebug() << "new cmdchannel consumer";
        m_room.addCommandViewer(socket, transport);
    } else {
        // Nothing is served here; a socket left open would only hold a descriptor.
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kUnservedPathGraceMs, socket, [socket] {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("nothing is served on this path"));
        });
    }
}

void WSServer::sendCommand(QString message)
{
    m_room.sendCommand(message);
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
        // One ingest read is one chunk for the viewers, sent at once.
        m_room.takeStream(packets, quintptr(socket));
        m_room.flushStream();
        emit ingestPackets(quintptr(socket), packets);
    });
    // A writer reconnects on every session start; release the old connection.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_ingests.remove(socket);
        m_room.endSource(quintptr(socket));
        socket->deleteLater();
    });
}

void WSServer::onRandomGameTick(QString clr, int proc)
{
    m_room.sendCommand(CommandMessages::randomGameTick(clr, proc));
}

void WSServer::onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code)
{
    m_room.draw({{"lose_txt", lose_txt}, {"win_txt", win_txt}, {"win_code", win_code}});
}

void WSServer::onVoteStart(QString title, QStringList opts)
{
    m_room.startVote(CommandMessages::voteStart(title, opts));
}

void WSServer::onVoteStop()
{
    m_room.sendCommand(CommandMessages::voteStop());
}
