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
    // but not yet handed to the kernel), or kBroken when the connection is gone.
    qint64 send(QWebSocket *viewer, const QByteArray &frame);

private:
    QHash<QWebSocket *, QPointer<QTcpSocket>> m_transports;
};
