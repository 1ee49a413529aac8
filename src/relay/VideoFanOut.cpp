#include "relay/VideoFanOut.h"

#include <cerrno>
#include <sys/socket.h>

void VideoFanOut::add(QWebSocket *viewer, QTcpSocket *transport)
{
    m_transports.insert(viewer, transport);
}

void VideoFanOut::remove(QWebSocket *viewer)
{
    m_transports.remove(viewer);
}

bool VideoFanOut::send(QWebSocket *viewer, const QByteArray &frame)
{
    QTcpSocket *transport = m_transports.value(viewer);
    if (!transport || transport->state() != QAbstractSocket::ConnectedState)
        return false;
    qint64 written = 0;
    if (transport->bytesToWrite() == 0) {
        const ssize_t sent = ::send(int(transport->socketDescriptor()), frame.constData(),
                                    size_t(frame.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        written = sent > 0 ? sent : 0;
    }
    if (written < frame.size())
        transport->write(frame.constData() + written, frame.size() - written);
    return true;
}

qint64 VideoFanOut::backlog(QWebSocket *viewer) const
{
    const QTcpSocket *transport = m_transports.value(viewer);
    return transport ? transport->bytesToWrite() : 0;
}
