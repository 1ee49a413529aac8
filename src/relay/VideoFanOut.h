#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpSocket>

class QWebSocket;

// Delivers stream chunks to the video viewers. The chunk is framed once and the
// same bytes are written straight to each viewer's TCP transport: with a
// thousand viewers, per-viewer framing and Qt's per-write notifier toggling
// cost more than the sends themselves. Only what the kernel does not take at
// once is queued in Qt's socket buffer, so ordering with the WebSocket layer's
// own frames (pongs, close) is kept.
class VideoFanOut
{
public:
    void add(QWebSocket *viewer, QTcpSocket *transport);
    void remove(QWebSocket *viewer);

    static constexpr qint64 kBroken = -1;

    // Writes one ready-made frame. Returns the viewer's backlog (bytes accepted
    // but not yet handed to the kernel) beyond its head start, or kBroken when
    // the connection is gone.
    qint64 send(QWebSocket *viewer, const QByteArray &frame);

    struct Broadcast
    {
        int delivered = 0;           // viewers that took the frame
        QList<QWebSocket *> dropped; // gone underneath, or slower than allowed (logged)
    };
    // Writes one ready-made frame to each of `viewers`, in order. The caller drops the returned
    // viewers: those whose connection is gone and those whose backlog passed `maxBacklogBytes`.
    Broadcast broadcast(const QList<QWebSocket *> &viewers, const QByteArray &frame,
                        qint64 maxBacklogBytes);

    // Writes what a joining viewer needs before the live chunks. Until the viewer
    // has taken it, its size is not counted as backlog: a late joiner's burst is
    // not a sign of a slow viewer. False when the connection is gone.
    bool sendHeadStart(QWebSocket *viewer, const QByteArray &frame);

private:
    struct Viewer
    {
        QPointer<QTcpSocket> transport;
        qint64 headStart = 0;
    };
    static qint64 write(Viewer &viewer, const QByteArray &frame);

    QHash<QWebSocket *, Viewer> m_viewers;
};
