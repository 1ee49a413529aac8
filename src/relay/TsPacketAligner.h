#pragma once

#include <QByteArray>

// Cuts one ingest connection's byte stream into whole 188-byte transport-stream
// packets. Viewers demux the video and audio streams from one WebSocket, so a
// message that ends mid-packet would corrupt whichever stream follows it.
// Bytes that do not form a packet starting with the sync byte 0x47 are dropped;
// after such a loss the stream counts as found again only where two packets in a
// row start with the sync byte, so stray data cannot pass as packets.
class TsPacketAligner
{
public:
    static constexpr int kPacketSize = 188;
    static constexpr char kSyncByte = 0x47;

    // Returns the whole packets now complete; keeps the partial tail for the next call.
    QByteArray take(const QByteArray &chunk);

    int pendingBytes() const { return m_tail.size(); }
    // Bytes dropped for want of sync since the last call.
    qint64 takeDroppedBytes();

private:
    QByteArray m_tail;
    bool m_inSync = true; // an encoder starts on a packet boundary
    qint64 m_dropped = 0;
};
