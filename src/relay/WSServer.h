#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QVector>

#include "audience/AudienceLink.h"
#include "audience/VoteState.h"
#include "net/AcceptBackoff.h"
#include "net/ConnectionOrder.h"
#include "net/ConnectionsPerAddress.h"
#include "net/HeapTrimmer.h"
#include "net/LogBudget.h"
#include "relay/JoinCache.h"
#include "relay/QuizCatchUp.h"
#include "relay/TsPacketAligner.h"
#include "relay/VideoFanOut.h"
#include "relay/ViewerChannel.h"

#include <memory>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class ViewerAcceptor;

// The local relay: encoder writers push transport-stream bytes to the ingest
// listener on 127.0.0.1:62000, and every whole packet goes out to each viewer
// on "/readvideo". A viewer who joins mid-stream first gets the video from the
// last full picture on, so the picture starts at once. Viewers on "/cmdchannel"
// get vote and game commands and answer votes. Lives on the GUI thread.
class WSServer : public AudienceLink
{
    Q_OBJECT
public:
    static constexpr quint16 kIngestPort = 62000;
    // A viewer whose queue of unsent chunks passes this is closed (besides the lag bound of
    // VideoFanOut). 2 MiB is over three seconds at the highest preset (5 Mbit/s); it bounds
    // the queues when the stream comes in bursts faster than live.
    static constexpr qint64 kMaxViewerBacklogBytes = 2 * 1024 * 1024;
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

    // Entry 0: viewers the last vote was sent to; entry k: votes for option k.
    QVector<qint32> voteResults() const override;

    qint64 receivedBytes = 0;
    qint64 sentBytes = 0;
    QWebSocketServer *wsServer;
    ConnectionOrder<QWebSocket> videoConsumers;
    ConnectionOrder<QWebSocket> cmdConsumers;
    QTcpServer ingestServer;
    qint32 voteRecipients = 0;
    QHash<QHostAddress, qint32> votes;

public slots:
    void onConnect();
    void onDisconnect();
    void processTextMessage(QString message);
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
    // Per ingest connection: the partial packet still to come and the join cache.
    struct IngestStream
    {
        TsPacketAligner aligner;
        JoinCache joinCache;
        LogBudget logBudget;
    };

    void forwardIngest(const QByteArray &packets);
    void sendJoinCaches(QWebSocket *viewer);
    void sendToCommandConsumers(const QString &message);
    bool sendCommandTo(QWebSocket *socket, const QString &message);
    void dropViewer(QWebSocket *socket);
    void forgetViewer(QWebSocket *socket);

    ViewerAcceptor *m_acceptor;
    quint16 m_ingestPort;
    AcceptBackoff m_ingestBackoff;
    ConnectionsPerAddress m_ingestPerAddress{QStringLiteral("relay ingest")};
    VideoFanOut m_fanOut;
    HeapTrimmer m_heapTrimmer;
    QuizCatchUp m_quizCatchUp;
    QString m_questions; // the last question list, for command viewers who join later
    QHash<QTcpSocket *, std::shared_ptr<IngestStream>> m_ingests;
};
