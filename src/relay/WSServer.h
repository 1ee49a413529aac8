#pragma once

#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QVector>

#include "audience/AudienceLink.h"
#include "audience/VoteState.h"
#include "net/AcceptBackoff.h"
#include "net/ConnectionsPerAddress.h"
#include "net/LogBudget.h"
#include "relay/RelayRoom.h"
#include "relay/TsPacketAligner.h"
#include "relay/ViewerChannel.h"

#include <memory>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class ViewerAcceptor;

// The local relay: the ingest listener on 127.0.0.1:62000 in front of one relay room. Encoder
// writers push transport-stream bytes to the ingest, and every whole packet goes to the room's
// viewers on "/readvideo" (a viewer who joins mid-stream first gets the video from the last full
// picture on). Viewers on "/cmdchannel" get vote and game commands and answer votes. Lives on the
// GUI thread.
class WSServer : public AudienceLink
{
    Q_OBJECT
public:
    static constexpr quint16 kIngestPort = 62000;
    static constexpr qint64 kMaxViewerBacklogBytes = RelayRoom::kMaxViewerBacklogBytes;
    // Commands from viewers are a few bytes; nobody gets to make us buffer more.
    static constexpr quint64 kMaxIncomingMessageBytes = ViewerChannel::kMaxIncomingMessageBytes;
    // A WebSocket on a path that serves nothing is closed after this: long enough for a page
    // to notice and say so, short enough that idle sockets cannot pile up.
    static constexpr int kUnservedPathGraceMs = 2000;

    // What the statistics show, read in one call.
    struct Statistics
    {
        qint64 receivedBytes = 0; // from the encoder writers
        qint64 sentBytes = 0;     // to all video viewers, summed over viewers
        int viewers = 0;          // sockets on the video path
    };

    // The encoder writers connect to `ingestPort` on 127.0.0.1; 0 lets the system pick one
    // (read it back with ingestPort() after start).
    explicit WSServer(quint16 ingestPort = kIngestPort);
    ~WSServer() override;

    // Zeroes the counters; listens unless already listening. The address is the
    // chosen interface's text, the port the viewer HTTP port plus one.
    void start(const QString &address, int port);
    void stop();
    bool isListening() const;
    quint16 serverPort() const;
    // The ingest listener's port while it listens, else the port it was given.
    quint16 ingestPort() const;
    Statistics statistics() const;
    // The viewers, the stream's fan-out, the tally and the draw.
    RelayRoom &room() { return m_room; }

    // Entry 0: viewers the last vote was sent to; entry k: votes for option k.
    QVector<qint32> voteResults() const override;

    qint64 receivedBytes = 0;
    QWebSocketServer *wsServer;
    QTcpServer ingestServer;

public slots:
    void onConnect();
    void onNewConnection();
    void onRandomGameTick(QString clr, int proc) override;
    void onRandomGameFinish(QString lose_txt, QString win_txt, QString win_code) override;
    void onVoteStart(QString title, QStringList opts) override;
    void onVoteStop() override;
    // A quiz's messages are also kept for those who join while it is played.
    void sendCommand(QString message) override;

signals:
    // Whole packets of one ingest connection (`source` tells the connections apart), as the
    // viewers get them; a recording taps them here.
    void ingestPackets(quintptr source, const QByteArray &packets);

private:
    // Per ingest connection: the partial packet still to come.
    struct IngestStream
    {
        TsPacketAligner aligner;
        LogBudget logBudget;
    };

    ViewerAcceptor *m_acceptor;
    quint16 m_ingestPort;
    AcceptBackoff m_ingestBackoff;
    ConnectionsPerAddress m_ingestPerAddress{QStringLiteral("relay ingest")};
    RelayRoom m_room;
    QHash<QTcpSocket *, std::shared_ptr<IngestStream>> m_ingests;
};
