#include "relay/VideoFanOut.h"

#include <QDebug>
#include <QSslSocket>
#include <QWebSocket>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

qint64 VideoFanOut::s_copiedBytes = 0;

VideoFanOut::VideoFanOut()
{
    m_clock.start();
}

VideoFanOut::~VideoFanOut()
{
    for (auto &entry : m_viewers)
        forgetCopied(entry.second);
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
            logSlow(viewer, maxQueuedBytes);
            result.dropped.append(viewer);
        }
    }
    return result;
}

QList<QWebSocket *> VideoFanOut::stalled(qint64 maxQueuedBytes)
{
    QList<QWebSocket *> slow;
    for (const auto &entry : m_viewers) {
        if (verdict(entry.second, maxQueuedBytes) != Result::TooSlow)
            continue;
        logSlow(entry.first, maxQueuedBytes);
        slow.append(entry.first);
    }
    return slow;
}

void VideoFanOut::logSlow(QWebSocket *viewer, qint64 maxQueuedBytes)
{
    if (!m_slowViewerLog.admit())
        return;
    if (const int leftOut = m_slowViewerLog.takeLeftOut())
        qWarning() << "closed" << leftOut << "more slow viewers";
    qWarning() << "closing slow viewer" << viewer->peerAddress().toString() << "more than"
               << kMaxLagMs << "ms or" << maxQueuedBytes << "bytes behind";
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
    const bool counted = maxQueuedBytes != kHeadStart;
    if (viewer.queue.empty() && transport->bytesToWrite() == 0) {
        forgetCopied(viewer);
        if (!writeFrame(viewer, {frame, 0, arrivedMs, counted}))
            return Result::Broken;
    } else {
        viewer.queue.push_back({frame, 0, arrivedMs, counted});
        if (counted)
            viewer.queuedBytes += frame.size();
    }
    return verdict(viewer, maxQueuedBytes);
}

bool VideoFanOut::writeFrame(Viewer &viewer, const Pending &pending)
{
    QTcpSocket *transport = viewer.transport;
    const char *data = pending.frame.constData() + pending.offset;
    const qint64 size = pending.frame.size() - pending.offset;
    // Under TLS the frame must go through the socket's encryption, never raw to the kernel.
    const ssize_t sent = qobject_cast<QSslSocket *>(transport)
                             ? 0
                             : ::send(int(transport->socketDescriptor()), data, size_t(size),
                                      MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
    const qint64 written = sent > 0 ? sent : 0;
    if (written == size)
        return true;
    // Qt's buffer takes a bounded piece, enough to bring the signal to go on; the rest stays in
    // the queue as the shared frame itself, so a large head start to a viewer that does not read
    // is not copied whole.
    const qint64 copied = std::min(size - written, kMaxCopyBytes);
    transport->write(data + written, copied);
    viewer.copied = copied;
    viewer.copiedSince = pending.arrivedMs;
    s_copiedBytes += copied;
    const qint64 rest = size - written - copied;
    if (rest > 0) {
        viewer.queue.push_front(
            {pending.frame, pending.offset + written + copied, pending.arrivedMs, pending.counted});
        if (pending.counted)
            viewer.queuedBytes += rest;
    }
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
            viewer.queuedBytes -= pending.frame.size() - pending.offset;
        if (!writeFrame(viewer, pending))
            return; // the socket reports its own error
        if (viewer.copied > 0)
            return; // the kernel is full; bytesWritten() brings us back
    }
}

void VideoFanOut::forgetCopied(Viewer &viewer)
{
    s_copiedBytes -= viewer.copied;
    viewer.copied = 0;
}

VideoFanOut::Result VideoFanOut::verdict(const Viewer &viewer, qint64 maxQueuedBytes) const
{
    if (maxQueuedBytes == kHeadStart || (viewer.queue.empty() && viewer.copied == 0))
        return Result::Sent;
    const qint64 oldest = viewer.copied > 0 ? viewer.copiedSince : viewer.queue.front().arrivedMs;
    if (nowMs() - oldest > kMaxLagMs || viewer.queuedBytes > maxQueuedBytes ||
        s_copiedBytes > kMaxCopiedBytes)
        return Result::TooSlow;
    return Result::Sent;
}
