#include "relay/VideoFanOut.h"

#include <cerrno>
#include <sys/socket.h>

VideoFanOut::VideoFanOut()
{
    m_clock.start();
}

void VideoFanOut::add(QWebSocket *viewer, QTcpSocket *transport)
{
    m_viewers[viewer] = Viewer{transport, {}, 0, 0, 0};
    connect(transport, &QTcpSocket::bytesWritten, this, [this, viewer, transport] {
        // Qt's buffer also carries the WebSocket layer's frames; ours are known to be out
        // only once it is empty, and then the queue may follow.
        if (transport->bytesToWrite() == 0)
            drain(viewer);
    });
}

void VideoFanOut::remove(QWebSocket *viewer)
{
    const auto found = m_viewers.find(viewer);
    if (found == m_viewers.end())
        return;
    forgetCopied(found->second);
    if (found->second.transport)
        disconnect(found->second.transport, nullptr, this, nullptr);
    m_viewers.erase(found);
}

VideoFanOut::Result VideoFanOut::send(QWebSocket *viewer, const QByteArray &frame)
{
    const auto found = m_viewers.find(viewer);
    if (found == m_viewers.end())
        return Result::Broken;
    return enqueue(found->second, frame, nowMs());
}

VideoFanOut::Result VideoFanOut::sendHeadStart(QWebSocket *viewer, const QByteArray &frame)
{
    const auto found = m_viewers.find(viewer);
    if (found == m_viewers.end())
        return Result::Broken;
    return enqueue(found->second, frame, nowMs() + kHeadStartGraceMs);
}

VideoFanOut::Result VideoFanOut::enqueue(Viewer &viewer, const QByteArray &frame, qint64 arrivedMs)
{
    QTcpSocket *transport = viewer.transport;
    if (!transport || transport->state() != QAbstractSocket::ConnectedState)
        return Result::Broken;
    if (viewer.queue.empty() && transport->bytesToWrite() == 0) {
        forgetCopied(viewer);
        if (!writeFrame(viewer, frame, arrivedMs))
            return Result::Broken;
    } else {
        viewer.queue.push_back({frame, arrivedMs});
        viewer.queuedBytes += frame.size();
    }
    return verdict(viewer);
}

bool VideoFanOut::writeFrame(Viewer &viewer, const QByteArray &frame, qint64 arrivedMs)
{
    QTcpSocket *transport = viewer.transport;
    const ssize_t sent = ::send(int(transport->socketDescriptor()), frame.constData(),
                                size_t(frame.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
    const qint64 written = sent > 0 ? sent : 0;
    if (written == frame.size())
        return true;
    const qint64 rest = frame.size() - written;
    transport->write(frame.constData() + written, rest);
    viewer.copied = rest;
    viewer.copiedSince = arrivedMs;
    m_copiedBytes += rest;
    return true;
}

void VideoFanOut::drain(QWebSocket *key)
{
    const auto found = m_viewers.find(key);
    if (found == m_viewers.end())
        return;
    Viewer &viewer = found->second;
    forgetCopied(viewer);
    while (!viewer.queue.empty() && viewer.transport &&
           viewer.transport->state() == QAbstractSocket::ConnectedState) {
        const Pending pending = std::move(viewer.queue.front());
        viewer.queue.pop_front();
        viewer.queuedBytes -= pending.frame.size();
        if (!writeFrame(viewer, pending.frame, pending.arrivedMs))
            return; // the socket reports its own error
        if (viewer.copied > 0)
            return; // the kernel is full; bytesWritten() brings us back
    }
}

void VideoFanOut::forgetCopied(Viewer &viewer)
{
    m_copiedBytes -= viewer.copied;
    viewer.copied = 0;
}

VideoFanOut::Result VideoFanOut::verdict(const Viewer &viewer) const
{
    if (viewer.queue.empty())
        return Result::Sent;
    const qint64 oldest = viewer.copied > 0 ? viewer.copiedSince : viewer.queue.front().arrivedMs;
    if (nowMs() - oldest > kMaxLagMs || viewer.queuedBytes > kMaxQueuedBytes ||
        m_copiedBytes > kMaxCopiedBytes)
        return Result::TooSlow;
    return Result::Sent;
}
