#pragma once

#include "net/LogBudget.h"
#include "relay/ClientFrameReader.h"

#include <QObject>
#include <QPointer>

class QTcpSocket;
class QWebSocket;

// The relay's side of one viewer's WebSocket after the handshake. It reads and checks the
// viewer's frames itself (QWebSocket would take unmasked ones), answers pings, and closes the
// connection with the fitting code when the viewer breaks the protocol. Whatever it or the
// relay queues for the viewer outside the video fan-out is bounded: a viewer that sends but
// never reads is dropped instead of growing the studio's memory. What waits unsent to every
// command viewer of the process together is bounded too: a thousand command viewers in each
// of a hundred rooms, each under its own bound, would still hold gigabytes. Past
// kMaxQueuedTextTotalBytes, a command viewer that had not taken what it was sent before is
// dropped at the next message. A video viewer's backlog is the fan-out's to bound. Child of
// the QWebSocket; GUI thread.
class ViewerChannel : public QObject
{
    Q_OBJECT
public:
    // Commands from viewers are a few bytes; nobody gets to make us buffer more.
    static constexpr int kMaxIncomingMessageBytes = 4096;
    // Bytes queued for the viewer (pongs, command messages, a video frame the kernel took only
    // in part) beyond which it is dropped. Hundreds of command messages, or several video frames.
    static constexpr qint64 kMaxQueuedBytes = 1024 * 1024;
    // The kernel's send buffer of the socket (the kernel doubles it). Left to grow on its own it
    // takes megabytes per stalled browser, and copying the stream into thousands of them costs
    // the healthy viewers their time. A quarter of a megabyte is two seconds of the usual stream
    // and far above what a LAN or a 100 ms path needs in flight.
    static constexpr int kKernelSendBufferBytes = 128 * 1024;
    // What waits unsent to all command viewers of the process together, past which those
    // behind are dropped.
    static constexpr qint64 kMaxQueuedTextTotalBytes = 32 * 1024 * 1024;
    // Behind: more than this still waiting when the next message comes (a presenter's text is
    // 16 KiB at most; a reading viewer takes each before the next).
    static constexpr qint64 kBehindBytes = 16 * 1024;

    enum class Kind { Video, Commands };

    // Takes over reading `transport`, the TCP connection under `socket`.
    ViewerChannel(QWebSocket *socket, QTcpSocket *transport, Kind kind);
    // What waits for it is given back to the process-wide total.
    ~ViewerChannel() override;

    QWebSocket *socket() const { return m_socket; }
    QTcpSocket *transport() const { return m_transport; }

    // Sends one text message; false when the viewer was dropped for not taking what it gets.
    bool sendText(const QString &message);

    // The lines this viewer causes in the log go through here.
    LogBudget &logBudget() { return m_logBudget; }
    QString peer() const { return m_peer; }

    // What waits unsent to every command viewer of the process.
    static qint64 queuedTextTotalBytes() { return s_queuedTextBytes; }

signals:
    void textMessage(const QString &message);

private:
    void readFrames();
    void handle(const ClientFrameReader::Message &message);
    bool withinBound();
    void drop(const QString &why, LogBudget &log);
    // Brings this viewer's share of the process-wide total up to date.
    void recharge();

    QWebSocket *m_socket;
    QPointer<QTcpSocket> m_transport;
    ClientFrameReader m_reader{kMaxIncomingMessageBytes};
    LogBudget m_logBudget;
    QString m_peer;
    Kind m_kind;
    qint64 m_charged = 0; // of the process-wide total

    static qint64 s_queuedTextBytes;
};
