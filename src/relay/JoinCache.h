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
//
// Every cache of the process draws on one budget: a hundred rooms each holding a 16 MiB group
// (a presenter may send one and stop) would otherwise cost 1.6 GB. The copy of the group framed
// for joiners (HeadStart) is as large again, so it is kept here and counted and dropped with
// the group. When an append or a framed copy takes the
// total past kMaxTotalBytes, the largest caches are dropped until it fits again; a dropped
// cache starts over at its stream's next full picture. The largest goes first because it is
// the one a stalled or hostile stream builds, and a normal room's group is a few megabytes.
// GUI thread.
class JoinCache
{
public:
    // One group of pictures at the highest bitrate preset (7 Mbit/s, 240 frames at 24 frames
    // per second) is about 8.8 MB. A stream whose sequence headers stop coming must not grow the
    // cache without end: past this it is dropped until the next sequence header.
    static constexpr int kMaxBytes = 16 * 1024 * 1024;
    // Of every cache of the process together: 14 rooms at the highest preset, several dozen at
    // the usual ones.
    static constexpr qint64 kMaxTotalBytes = 128 * 1024 * 1024;

    JoinCache();
    ~JoinCache();
    JoinCache(const JoinCache &) = delete;
    JoinCache &operator=(const JoinCache &) = delete;

    // `packets` holds whole 188-byte packets, in stream order.
    void append(const QByteArray &packets);
    // Forgets the stream: its tables and its group.
    void clear();

    // What every cache of the process holds together, framed copies included.
    static qint64 totalBytes();
    // This cache's part of it.
    qint64 bytes() const { return m_packets.size() + m_framedGroup.size() + m_framedTail.size(); }

    // Keeps the owner's framed copy of contents(): `group` as it was at some point of this
    // generation, `tail` what came since. Forgotten whenever contents() starts over.
    void keepFramed(QByteArray group, QByteArray tail);
    const QByteArray &framedGroup() const { return m_framedGroup; }
    const QByteArray &framedTail() const { return m_framedTail; }

    // Empty until the first full picture has arrived.
    const QByteArray &contents() const { return m_packets; }
    // Changes whenever contents() starts over (a full picture, or the bound); between changes,
    // append() only adds to its end.
    int generation() const { return m_generation; }

    // True when this packet opens a video PES whose data starts a full picture: an MPEG-1
    // sequence header, or for `h264` an SPS or IDR slice.
    static bool opensSequence(const char *packet, bool h264 = false);

private:
    // Replaces the contents, forgetting the framed copy, and keeps the process total.
    void startOver(QByteArray packets);
    void drop();
    static void keepWithinBudget();

    TsProgramTables m_tables;
    QByteArray m_packets;
    QByteArray m_framedGroup;
    QByteArray m_framedTail;
    int m_generation = 0;
};
