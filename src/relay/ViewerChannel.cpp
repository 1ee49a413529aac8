#include "relay/ViewerChannel.h"

#include <QDebug>
#include <QTcpSocket>
#include <QWebSocket>

namespace {

constexpr char kOpPong = char(0x8a); // final frame, pong

// Reaching the process-wide bound drops many viewers at once: one event, not a line each.
LogBudget &budgetLog()
{
    static LogBudget log(1, LogBudget::kWindowMs);
    return log;
}

} // namespace

qint64 ViewerChannel::s_queuedTextBytes = 0;

ViewerChannel::ViewerChannel(QWebSocket *socket, QTcpSocket *transport, Kind kind)
    : QObject(socket), m_socket(socket), m_transport(transport),
      m_peer(socket->peerAddress().toString() + ':' + QString::number(socket->peerPort())),
      m_kind(kind)
{
    if (kind == Kind::Commands)
        connect(transport, &QIODevice::bytesWritten, this, &ViewerChannel::recharge);
    // QWebSocket reads its transport on readyRead; from now on only this channel does.
    disconnect(transport, &QIODevice::readyRead, socket, nullptr);
    // Each read is taken whole at once, so this only bounds a single read of a flood.
    transport->setReadBufferSize(64 * 1024);
    transport->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBufferBytes);
    connect(transport, &QIODevice::readyRead, this, &ViewerChannel::readFrames);
    if (transport->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ViewerChannel::readFrames, Qt::QueuedConnection);
}

ViewerChannel::~ViewerChannel()
{
    s_queuedTextBytes -= m_charged;
}

bool ViewerChannel::sendText(const QString &message)
{
    const qint64 waiting = m_transport ? m_transport->bytesToWrite() : 0;
    m_socket->sendTextMessage(message);
    recharge();
    if (m_kind == Kind::Commands && waiting > kBehindBytes &&
        s_queuedTextBytes > kMaxQueuedTextTotalBytes) {
        const int leftOut = budgetLog().takeLeftOut();
        drop(QStringLiteral("command viewers hold %1 bytes unsent together, over %2; dropping "
                            "viewer %3 that does not read%4")
                 .arg(s_queuedTextBytes)
                 .arg(kMaxQueuedTextTotalBytes)
                 .arg(m_peer,
                      leftOut ? QStringLiteral(" (and %1 more since)").arg(leftOut) : QString()),
             budgetLog());
        return false;
    }
    return withinBound();
}

void ViewerChannel::recharge()
{
    if (m_kind != Kind::Commands)
        return;
    const qint64 now = m_transport ? m_transport->bytesToWrite() : 0;
    s_queuedTextBytes += now - m_charged;
    m_charged = now;
}

void ViewerChannel::drop(const QString &why, LogBudget &log)
{
    if (log.admit())
        qWarning().noquote() << why;
    if (m_transport)
        m_transport->abort();
    recharge();
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
        recharge();
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
    drop(QStringLiteral("dropping viewer %1 that does not read: %2 bytes unsent")
             .arg(m_peer)
             .arg(m_transport->bytesToWrite()),
         m_logBudget);
    return false;
}
