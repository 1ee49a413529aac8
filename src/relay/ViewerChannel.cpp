#include "relay/ViewerChannel.h"

#include <QDebug>
#include <QTcpSocket>
#include <QWebSocket>

namespace {

constexpr char kOpPong = char(0x8a); // final frame, pong

} // namespace

ViewerChannel::ViewerChannel(QWebSocket *socket, QTcpSocket *transport)
    : QObject(socket), m_socket(socket), m_transport(transport),
      m_peer(socket->peerAddress().toString() + ':' + QString::number(socket->peerPort()))
{
    // QWebSocket reads its transport on readyRead; from now on only this channel does.
    disconnect(transport, &QIODevice::readyRead, socket, nullptr);
    // Each read is taken whole at once, so this only bounds a single read of a flood.
    transport->setReadBufferSize(64 * 1024);
    transport->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBufferBytes);
    connect(transport, &QIODevice::readyRead, this, &ViewerChannel::readFrames);
    if (transport->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ViewerChannel::readFrames, Qt::QueuedConnection);
}

bool ViewerChannel::sendText(const QString &message)
{
    m_socket->sendTextMessage(message);
    return withinBound();
}

void ViewerChannel::readFrames()
{
    if (!m_transport)
        return;
    QVector<ClientFrameReader::Message> messages;
    const bool ok = m_reader.feed(m_transport->readAll(), messages);
    for (const ClientFrameReader::Message &message : qAsConst(messages)) {
        handle(message);
        if (!m_transport || m_transport->state() != QAbstractSocket::ConnectedState)
            return;
    }
    if (ok)
        return;
    if (m_logBudget.admit())
        qWarning().noquote() << "viewer" << m_peer
                             << "broke the WebSocket protocol:" << m_reader.errorText();
    m_socket->close(m_reader.error(), m_reader.errorText());
    if (m_transport)
        m_transport->disconnectFromHost();
}

void ViewerChannel::handle(const ClientFrameReader::Message &message)
{
    switch (message.kind) {
    case ClientFrameReader::Message::Text:
        emit textMessage(QString::fromUtf8(message.payload));
        break;
    case ClientFrameReader::Message::Ping: {
        QByteArray pong;
        pong.append(kOpPong).append(char(message.payload.size())).append(message.payload);
        m_transport->write(pong);
        withinBound();
        break;
    }
    case ClientFrameReader::Message::Close:
        // The viewer ends the connection; answer its close and let TCP go.
        m_socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        if (m_transport)
            m_transport->disconnectFromHost();
        break;
    case ClientFrameReader::Message::Binary:
    case ClientFrameReader::Message::Pong:
        break; // nothing a viewer sends in binary or as a pong means anything here
    }
}

bool ViewerChannel::withinBound()
{
    if (!m_transport || m_transport->bytesToWrite() <= kMaxQueuedBytes)
        return true;
    if (m_logBudget.admit())
        qWarning().noquote() << "dropping viewer" << m_peer
                             << "that does not read:" << m_transport->bytesToWrite()
                             << "bytes unsent";
    m_transport->abort();
    return false;
}
