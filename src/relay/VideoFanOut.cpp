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

qint64 VideoFanOut::send(QWebSocket *viewer, const QByteArray &frame)
{
    QTcpSocket *transport = m_transports.value(viewer);
    if (!transport || transport->state() != QAbstractSocket::ConnectedState)
        return kBroken;
    const qint64 queued = transport->bytesToWrite();
    qint64 written = 0;
    if (queued == 0) {
        const ssize_t sent = ::send(int(transport->socketDescriptor()), frame.constData(),
                                    size_t(frame.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return kBroken;
        written = sent > 0 ? sent : 0;
    }
    if (written == frame.size())
        return 0;
    transport->write(frame.constData() + written, frame.size() - written);
    return queued + frame.size() - written;
}
