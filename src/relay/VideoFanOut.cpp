#include "relay/VideoFanOut.h"

#include <QDebug>
#include <QWebSocket>

#include <cerrno>
#include <sys/socket.h>

void VideoFanOut::add(QWebSocket *viewer, QTcpSocket *transport)
{
    m_viewers.insert(viewer, Viewer{transport, 0});
}

void VideoFanOut::remove(QWebSocket *viewer)
{
    m_viewers.remove(viewer);
}

qint64 VideoFanOut::send(QWebSocket *viewer, const QByteArray &frame)
{
    const auto found = m_viewers.find(viewer);
    if (found == m_viewers.end())
        return kBroken;
    const qint64 backlog = write(*found, frame);
    if (backlog == kBroken)
        return kBroken;
    return qMax<qint64>(0, backlog - found->headStart);
}

VideoFanOut::Broadcast VideoFanOut::broadcast(const QList<QWebSocket *> &viewers,
                                              const QByteArray &frame, qint64 maxBacklogBytes)
{
    Broadcast result;
    for (QWebSocket *viewer : viewers) {
        const qint64 backlog = send(viewer, frame);
        if (backlog == kBroken) {
            result.dropped.append(viewer); // its disconnect may not have arrived yet
            continue;
        }
        ++result.delivered;
        if (backlog > maxBacklogBytes) {
            qWarning() << "closing slow viewer" << viewer->peerAddress().toString() << "with"
                       << backlog << "bytes unsent";
            result.dropped.append(viewer);
        }
    }
    return result;
}

bool VideoFanOut::sendHeadStart(QWebSocket *viewer, const QByteArray &frame)
{
    const auto found = m_viewers.find(viewer);
    if (found == m_viewers.end())
        return false;
    const qint64 backlog = write(*found, frame);
    if (backlog == kBroken)
        return false;
    found->headStart = backlog;
    return true;
}

qint64 VideoFanOut::write(Viewer &viewer, const QByteArray &frame)
{
    QTcpSocket *transport = viewer.transport;
    if (!transport || transport->state() != QAbstractSocket::ConnectedState)
        return kBroken;
    const qint64 queued = transport->bytesToWrite();
    qint64 written = 0;
    if (queued == 0) {
        viewer.headStart = 0; // taken whole by the kernel
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
