#include "relay/VideoFanOut.h"

#include <QDebug>
#include <QSslSocket>
#include <QWebSocket>

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

VideoFanOut::Broadcast VideoFanOut::broadcast(const QList<QWebSocket *> &viewers,
                                              const QByteArray &frame, qint64 maxQueuedBytes)
{
    Broadcast result;
    const qint64 now = nowMs();
    for (QWebSocket *viewer : viewers) {
        const auto found = m_viewers.find(viewer);
        const Result sent = found == m_viewers.end()
                                ? Result::Broken
                                : enqueue(found->second, frame, now, maxQueuedBytes);
        if (sent == Result::Broken) {
            result.dropped.append(viewer); // its disconnect may not have arrived yet
            continue;
        }
        ++result.delivered;
        if (sent == Result::TooSlow) {
            if (m_slowViewerLog.admit()) {
                if (const int leftOut = m_slowViewerLog.takeLeftOut())
                    qWarning() << "closed" << leftOut << "more slow viewers";
                qWarning() << "closing slow viewer" << viewer->peerAddress().toString()
                           << "more than" << kMaxLagMs << "ms or" << maxQueuedBytes
                           << "bytes behind";
            }
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
    // Its size is no sign of a slow viewer: it is not held against the queue bound.
    return enqueue(found->second, frame, nowMs() + kHeadStartGraceMs, kHeadStart) != Result::Broken;
}

VideoFanOut::Result VideoFanOut::enqueue(Viewer &viewer, const QByteArray &frame, qint64 arrivedMs,
                                         qint64 maxQueuedBytes)
{
    QTcpSocket *transport = viewer.transport;
    if (!transport || transport->state() != QAbstractSocket::ConnectedState)
        return Result::Broken;
    if (viewer.queue.empty() && transport->bytesToWrite() == 0) {
        forgetCopied(viewer);
        if (!writeFrame(viewer, frame, arrivedMs))
            return Result::Broken;
    } else {
        const bool counted = maxQueuedBytes != kHeadStart;
        viewer.queue.push_back({frame, arrivedMs, counted});
        if (counted)
            viewer.queuedBytes += frame.size();
    }
    return verdict(viewer, maxQueuedBytes);
}

bool VideoFanOut::writeFrame(Viewer &viewer, const QByteArray &frame, qint64 arrivedMs)
{
    QTcpSocket *transport = viewer.transport;
    // Under TLS the frame must go through the socket's encryption, never raw to the kernel.
    const ssize_t sent = qobject_cast<QSslSocket *>(transport)
                             ? 0
                             : ::send(int(transport->socketDescriptor()), frame.constData(),
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
        if (pending.counted)
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

VideoFanOut::Result VideoFanOut::verdict(const Viewer &viewer, qint64 maxQueuedBytes) const
{
    if (viewer.queue.empty() || maxQueuedBytes == kHeadStart)
        return Result::Sent;
    const qint64 oldest = viewer.copied > 0 ? viewer.copiedSince : viewer.queue.front().arrivedMs;
    if (nowMs() - oldest > kMaxLagMs || viewer.queuedBytes > maxQueuedBytes ||
        m_copiedBytes > kMaxCopiedBytes)
        return Result::TooSlow;
    return Result::Sent;
}
