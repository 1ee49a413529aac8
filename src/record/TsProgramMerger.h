#pragma once

#include <QByteArray>
#include <QMap>
#include <QVector>

// Joins the studio's two transport streams (the video writer's and the audio writer's, each with
// its own program tables) into one stream that a player reads as one program. Each writer's
// PAT and PMT would otherwise alternate in one file under the same PIDs, and players keep only
// the streams of whichever table they saw last. The merger drops the writers' tables, learns
// their elementary streams, and writes one PAT and one PMT listing all of them: at once when a
// stream is learnt, then every kTablePeriodPackets packets. Packets are whole and aligned, as
// the relay's ingest cuts them. The first tables wait until both a video and an audio stream are
// known (or kHoldPackets packets came without them): libavformat finds no picture size for a
// video stream that a later table version adds, so the file must name every stream from its
// start. Not thread-safe; one merger per recording.
class TsProgramMerger
{
public:
    static constexpr int kPacketSize = 188;
    static constexpr int kPmtPid = 0x1000;
    static constexpr int kTablePeriodPackets = 2000;
    static constexpr int kHoldPackets = 1000;

    // `packets` of the connection `source`; returns what goes to the file.
    QByteArray take(quintptr source, const QByteArray &packets);

    struct Elementary
    {
        int streamType = 0;
        int pid = 0;
        QByteArray descriptors;
    };

private:
    struct Source
    {
        int pmtPid = -1;
        int pcrPid = -1;
        QVector<Elementary> streams;
    };

    bool learnTable(Source &source, const char *packet);
    bool programComplete() const;
    QByteArray tables();
    QByteArray tablePacket(int pid, const QByteArray &section, int &continuity) const;

    QMap<quintptr, Source> m_sources;
    int m_version = 0;
    int m_patContinuity = 0;
    int m_pmtContinuity = 0;
    int m_packetsSinceTables = 0;
    bool m_tablesDue = false;
    bool m_started = false;
    QByteArray m_held;
};
