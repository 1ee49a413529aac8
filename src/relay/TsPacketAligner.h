#pragma once

#include <QByteArray>

// Cuts one ingest connection's byte stream into whole 188-byte transport-stream
// packets. Viewers demux the video and audio streams from one WebSocket, so a
// message that ends mid-packet would corrupt whichever stream follows it.
class TsPacketAligner
{
public:
    static constexpr int kPacketSize = 188;

    // Returns the whole packets now complete; keeps the partial tail for the next call.
    QByteArray take(const QByteArray &chunk);

    int pendingBytes() const { return m_tail.size(); }

private:
    QByteArray m_tail;
};
