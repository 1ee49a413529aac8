#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include "net/LogBudget.h"

#include <deque>
#include <unordered_map>

class QWebSocket;

// Delivers stream chunks to the video viewers. The chunk is framed once and the
// same bytes are written straight to each viewer's TCP transport: with a
// thousand viewers, per-viewer framing and Qt's per-write notifier toggling
// cost more than the sends themselves.
//
// A viewer that does not keep up costs references, not copies: what the kernel
// does not take at once waits in the viewer's queue as the shared chunk itself.
// Only a bounded piece (kMaxCopyBytes) of a frame the kernel took in part is
// copied into Qt's socket buffer, which keeps the order with the WebSocket
// layer's own frames (pongs, close) and brings the signal to go on; the rest
// waits in the queue. A viewer is too slow, and the caller
// drops it, when the oldest chunk it has not taken is older than kMaxLagMs of
// live stream, when its queue holds more than the caller's bound, or when the
// copies of all viewers of the process together pass kMaxCopiedBytes and it is
// one of those behind. Since queued chunks are the stream's latest, the queues of all
// viewers together hold at most that bound of distinct data. The kernel's
// send buffer under each viewer is bounded by ViewerChannel. GUI thread.
class VideoFanOut : public QObject
{
    Q_OBJECT
public:
    // Four seconds of stream: a live viewer that far behind sees nothing useful, and a browser
    // that merely hiccups (a tab switch, a Wi-Fi retry) catches up well within it.
    static constexpr int kMaxLagMs = 4000;
    // Process-wide ceiling on the partial frames copied into socket buffers (one per slow viewer),
    // over every room's fan-out: one budget, however many rooms.
    static constexpr qint64 kMaxCopiedBytes = 64 * 1024 * 1024;
    // The most of one frame copied into a socket buffer; the rest waits as the shared frame.
    static constexpr qint64 kMaxCopyBytes = 64 * 1024;
    // What a joining viewer is sent first (up to a group of pictures) may take this long
    // before it counts as lag.
    static constexpr int kHeadStartGraceMs = 6000;

    VideoFanOut();
    // What its viewers hold of the process-wide copies is given back.
    ~VideoFanOut() override;

    void add(QWebSocket *viewer, QTcpSocket *transport);
    void remove(QWebSocket *viewer);

    struct Broadcast
    {
        int delivered = 0;           // viewers that took the frame or queued it
        QList<QWebSocket *> dropped; // gone underneath, or too slow (logged)
    };
    // Hands one ready-made frame to each of `viewers`, in order, or queues it. The caller drops
    // the returned viewers: those whose connection is gone and those too slow, by the rules
    // above with `maxQueuedBytes` as the queue bound.
    Broadcast broadcast(const QList<QWebSocket *> &viewers, const QByteArray &frame,
                        qint64 maxQueuedBytes);
    // Writes what a joining viewer needs before the live chunks. False when the connection is
    // gone.
    bool sendHeadStart(QWebSocket *viewer, const QByteArray &frame);
    // The viewers too slow by the rules above as they stand now, stream or no stream (logged);
    // the caller drops them.
    QList<QWebSocket *> stalled(qint64 maxQueuedBytes);

private:
    enum class Result { Sent, Broken, TooSlow };
    static constexpr qint64 kHeadStart = -1; // as the queue bound: the frame is a head start
    struct Pending
    {
        QByteArray frame; // shared with every other viewer's queue
        qint64 offset;    // what of it has gone out already
        qint64 arrivedMs;
        bool counted; // against the queue bound (a head start is not)
    };
    struct Viewer
    {
        QPointer<QTcpSocket> transport;
        std::deque<Pending> queue;
        qint64 queuedBytes = 0;
        qint64 copied = 0;      // of ours in Qt's buffer
        qint64 copiedSince = 0; // arrival of the frame that is
    };

    Result enqueue(Viewer &viewer, const QByteArray &frame, qint64 arrivedMs,
                   qint64 maxQueuedBytes);
    // False when the connection is broken.
    bool writeFrame(Viewer &viewer, const Pending &pending);
    void drain(QWebSocket *key);
    void forgetCopied(Viewer &viewer);
    Result verdict(const Viewer &viewer, qint64 maxQueuedBytes) const;
    void logSlow(QWebSocket *viewer, qint64 maxQueuedBytes);
    qint64 nowMs() const { return m_clock.elapsed(); }

    std::unordered_map<QWebSocket *, Viewer> m_viewers;
    static qint64 s_copiedBytes; // of every fan-out of the process (one thread)
    QElapsedTimer m_clock;
    LogBudget m_slowViewerLog; // a mass of stalled viewers is one event, not a line each
};
