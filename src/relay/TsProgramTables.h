#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>

// What the program tables of a transport stream say, as far as a relay needs it: the stream type
// of each elementary stream's PID, and the latest table packets that describe a stream, so that
// a viewer who starts mid-stream can be handed them first and learn the codec at once. Tables
// must fit in one packet (the studio's always do); longer ones are ignored. Several writers'
// tables may share one PMT PID: each entry is kept by the PID it describes.
class TsProgramTables
{
public:
    // ITU-T H.222.0 stream types.
    static constexpr int kMpeg1Video = 0x01;
    static constexpr int kMpeg2Video = 0x02;
    static constexpr int kH264Video = 0x1b;

    // `packet` is one whole 188-byte packet; anything but a PAT or a PMT is ignored.
    void read(const char *packet);

    // 0 while no PMT has named the PID.
    int streamType(int pid) const { return m_types.value(pid, 0); }
    // The latest PAT, then the latest PMT that names `pid`; empty until both were seen.
    QByteArray tablesFor(int pid) const;

    static int pidOf(const char *packet);

private:
    void readPat(const char *packet, const uchar *section, const uchar *end);
    void readPmt(const char *packet, const uchar *section, const uchar *end);

    QSet<int> m_pmtPids;
    QHash<int, int> m_types;
    QByteArray m_pat;
    QHash<int, QByteArray> m_pmtFor;
};
