#include "relay/ViewerAcceptor.h"

#include "net/ListenQueue.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const char *const kHeadDeadlineName = "lumacast_request_head_deadline";

} // namespace

ViewerAcceptor::ViewerAcceptor(QWebSocketServer *handshaker, QObject *parent)
    : QObject(parent), m_backoff(&m_server, QStringLiteral("relay viewers")),
      m_handshaker(handshaker)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ViewerAcceptor::onNewConnection);
}

ViewerAcceptor::~ViewerAcceptor()
{
    // Sockets still handshaking go with the listener, after the table they would update.
    for (const QPointer<QTcpSocket> &socket : qAsConst(m_handshaking))
        if (socket)
            disconnect(socket, nullptr, this, nullptr);
}

bool ViewerAcceptor::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server.listen(address, port))
        return false;
    ListenQueue::widen(m_server, QStringLiteral("relay viewers"));
    return true;
}

void ViewerAcceptor::close()
{
    m_server.close();
}

QTcpSocket *ViewerAcceptor::takeTransport(QWebSocket *viewer)
{
    QTcpSocket *transport =
        m_handshaking.take({viewer->peerAddress().toString(), viewer->peerPort()}).data();
    // The WebSocket does not delete the socket it was upgraded from; tie their lives.
    if (transport)
        transport->setParent(viewer);
    return transport;
}

void ViewerAcceptor::setPlainRequestHandler(PlainRequestHandler handler)
{
    m_plainRequests = std::move(handler);
}

void ViewerAcceptor::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (!m_perAddress.admit(socket))
            continue;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (!m_plainRequests) {
            handOver(socket);
            continue;
        }
        auto *deadline = new QTimer(socket);
        deadline->setObjectName(kHeadDeadlineName);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
        deadline->start(kRequestHeadTimeoutMs);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { classify(socket); });
    }
}

void ViewerAcceptor::classify(QTcpSocket *socket)
{
    const QByteArray head = socket->peek(kMaxRequestHeadBytes);
    const int end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= kMaxRequestHeadBytes)
            socket->abort();
        return;
    }
    // The socket leaves this acceptor's hands, with its bytes unread.
    disconnect(socket, nullptr, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    delete socket->findChild<QTimer *>(kHeadDeadlineName, Qt::FindDirectChildrenOnly);
    static const QRegularExpression upgrade("\r\nupgrade:[ \t]*websocket[ \t]*\r\n",
                                            QRegularExpression::CaseInsensitiveOption);
    if (upgrade.match(QString::fromLatin1(head.left(end + 2))).hasMatch())
        handOver(socket);
    else
        m_plainRequests(socket);
}

void ViewerAcceptor::handOver(QTcpSocket *socket)
{
    const PeerKey key{socket->peerAddress().toString(), socket->peerPort()};
    m_handshaking.insert(key, socket);
    QTimer::singleShot(kHandshakeDeadlineMs, socket, [this, key, socket] {
        if (m_handshaking.value(key) != socket)
            return; // upgraded meanwhile
        socket->abort();
        socket->deleteLater();
    });
    // A failed handshake deletes the socket; forget it then.
    connect(socket, &QObject::destroyed, this, [this, key] {
        if (m_handshaking.value(key).isNull())
            m_handshaking.remove(key);
    });
    m_handshaker->handleConnection(socket);
}
