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
// never reads is dropped instead of growing the studio's memory. Child of the QWebSocket;
// GUI thread.
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

    // Takes over reading `transport`, the TCP connection under `socket`.
    ViewerChannel(QWebSocket *socket, QTcpSocket *transport);

    QWebSocket *socket() const { return m_socket; }
    QTcpSocket *transport() const { return m_transport; }

    // Sends one text message; false when the viewer was dropped for not taking what it gets.
    bool sendText(const QString &message);

    // The lines this viewer causes in the log go through here.
    LogBudget &logBudget() { return m_logBudget; }
    QString peer() const { return m_peer; }

signals:
    void textMessage(const QString &message);

private:
    void readFrames();
    void handle(const ClientFrameReader::Message &message);
    bool withinBound();

    QWebSocket *m_socket;
    QPointer<QTcpSocket> m_transport;
    ClientFrameReader m_reader{kMaxIncomingMessageBytes};
    LogBudget m_logBudget;
    QString m_peer;
};
