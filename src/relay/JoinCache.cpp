#include "relay/JoinCache.h"

#include "net/LogBudget.h"
#include "relay/TsPacketAligner.h"

#include <QDebug>
#include <algorithm>
#include <iterator>
#include <unordered_set>

namespace {

constexpr int kPacketSize = TsPacketAligner::kPacketSize;
constexpr char kSequenceHeaderCode[] = {0x00, 0x00, 0x01, char(0xb3)};
constexpr char kStartCodePrefix[] = {0x00, 0x00, 0x01};
constexpr int kNalIdrSlice = 5;
constexpr int kNalSps = 7;

// Emulation prevention keeps start codes out of H.264 payloads, so each match starts a NAL unit.
bool startsH264Picture(const char *data, const char *end)
{
    for (const char *at = data;; at += 3) {
        at = std::search(at, end, std::begin(kStartCodePrefix), std::end(kStartCodePrefix));
        if (end - at < 4)
            return false;
        const uchar header = uchar(at[3]);
        const int type = header & 0x1f;
        if (!(header & 0x80) && (type == kNalSps || type == kNalIdrSlice))
            return true;
    }
}

// Every cache of the process, and what they hold together (GUI thread only).
std::unordered_set<JoinCache *> &caches()
{
    static std::unordered_set<JoinCache *> all;
    return all;
}
qint64 s_totalBytes = 0;

// A budget reached is one event, whatever number of caches it drops.
LogBudget &budgetLog()
{
    static LogBudget log(1, 60 * 1000);
    return log;
}

} // namespace

JoinCache::JoinCache()
{
    caches().insert(this);
}

JoinCache::~JoinCache()
{
    s_totalBytes -= bytes();
    caches().erase(this);
}

qint64 JoinCache::totalBytes()
{
    return s_totalBytes;
}

void JoinCache::startOver(QByteArray packets)
{
    s_totalBytes += packets.size() - bytes();
    m_packets = std::move(packets);
    m_framedGroup.clear();
    m_framedTail.clear();
    ++m_generation;
}

void JoinCache::drop()
{
    startOver(QByteArray());
}

void JoinCache::keepFramed(QByteArray group, QByteArray tail)
{
    s_totalBytes += group.size() + tail.size() - m_framedGroup.size() - m_framedTail.size();
    m_framedGroup = std::move(group);
    m_framedTail = std::move(tail);
    if (s_totalBytes > kMaxTotalBytes)
        keepWithinBudget();
}

void JoinCache::clear()
{
    m_tables = TsProgramTables();
    drop();
}

void JoinCache::keepWithinBudget()
{
    int dropped = 0;
    const qint64 before = s_totalBytes;
    while (s_totalBytes > kMaxTotalBytes) {
        JoinCache *largest = *std::max_element(
            caches().begin(), caches().end(),
            [](const JoinCache *a, const JoinCache *b) { return a->bytes() < b->bytes(); });
        largest->drop();
        ++dropped;
    }
    if (dropped == 0 || !budgetLog().admit())
        return;
    const int leftOut = budgetLog().takeLeftOut();
    qWarning().noquote() << "relay: join caches hold" << before << "bytes, over the budget of"
                         << kMaxTotalBytes << "; dropped the" << dropped
                         << "largest, their late viewers wait for the next full picture"
                         << (leftOut ? QStringLiteral("(%1 more times since)").arg(leftOut)
                                     : QString());
}

bool JoinCache::opensSequence(const char *packet, bool h264)
{
    const auto byte = [packet](int i) {
        return uchar(packet[i]);
    };
    const bool unitStart = byte(1) & 0x40;
    const int adaptation = (byte(3) >> 4) & 0x3;
    if (byte(0) != 0x47 || !unitStart || !(adaptation & 0x1))
        return false;
    int pes = 4;
    if (adaptation & 0x2)
        pes += 1 + byte(4);
    // Start code prefix, a video stream id (0xe0 to 0xef), length, flags, header length.
    if (pes + 9 > kPacketSize || byte(pes) != 0 || byte(pes + 1) != 0 || byte(pes + 2) != 1 ||
        (byte(pes + 3) & 0xf0) != 0xe0)
        return false;
    const int data = pes + 9 + byte(pes + 8);
    if (data >= kPacketSize)
        return false;
    const char *end = packet + kPacketSize;
    if (h264)
        return startsH264Picture(packet + data, end);
    // Start codes cannot occur inside MPEG-1 video data, so a match is a real header.
    return std::search(packet + data, end, std::begin(kSequenceHeaderCode),
                       std::end(kSequenceHeaderCode)) != end;
}

void JoinCache::append(const QByteArray &packets)
{
    int restart = -1;
    QByteArray tables;
    for (int offset = 0; offset + kPacketSize <= packets.size(); offset += kPacketSize) {
        const char *packet = packets.constData() + offset;
        m_tables.read(packet);
        const int pid = TsProgramTables::pidOf(packet);
        if (opensSequence(packet, m_tables.streamType(pid) == TsProgramTables::kH264Video)) {
            restart = offset;
            tables = m_tables.tablesFor(pid);
        }
    }
    if (restart >= 0) {
        startOver(tables + (restart == 0 ? packets : packets.mid(restart)));
    } else if (!m_packets.isEmpty()) {
        s_totalBytes += packets.size();
        m_packets += packets;
    }
    if (m_packets.size() > kMaxBytes) {
        qWarning() << "relay: no sequence header in" << m_packets.size()
                   << "bytes of video; late viewers wait for the next full picture";
        drop();
    }
    if (s_totalBytes > kMaxTotalBytes)
        keepWithinBudget();
}
