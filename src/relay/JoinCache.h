#pragma once

#include "relay/TsProgramTables.h"

#include <QByteArray>

// What a viewer who joins mid-stream needs to start at once, for one ingest connection: the
// program tables that name the stream's codec, then the transport-stream packets from the last
// full picture on. The MPEG-1 encoder puts a sequence header before every full picture, the
// H.264 encoder its SPS before every IDR picture; the cache restarts there and holds at most one
// group of pictures. The page decodes it without delay and is live, instead of waiting up to a
// whole group of pictures for the next full picture. A connection that carries no video never
// finds one and keeps nothing.
class JoinCache
{
public:
    // One group of pictures at the highest bitrate preset (7 Mbit/s, 240 frames at 24 frames
    // per second) is about 8.8 MB. A stream whose sequence headers stop coming must not grow the
    // cache without end: past this it is dropped until the next sequence header.
    static constexpr int kMaxBytes = 16 * 1024 * 1024;

    // `packets` holds whole 188-byte packets, in stream order.
    void append(const QByteArray &packets);

    // Empty until the first full picture has arrived.
    const QByteArray &contents() const { return m_packets; }
    // Changes whenever contents() starts over (a full picture, or the bound); between changes,
    // append() only adds to its end.
    int generation() const { return m_generation; }

    // True when this packet opens a video PES whose data starts a full picture: an MPEG-1
    // sequence header, or for `h264` an SPS or IDR slice.
    static bool opensSequence(const char *packet, bool h264 = false);

private:
    TsProgramTables m_tables;
    QByteArray m_packets;
    int m_generation = 0;
};
