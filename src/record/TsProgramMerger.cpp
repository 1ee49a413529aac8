#include "record/TsProgramMerger.h"

extern "C" {
#include <libavutil/bswap.h>
#include <libavutil/crc.h>
}

namespace {

constexpr int kPatPid = 0x0000;
constexpr int kSdtPid = 0x0011;
constexpr int kH264StreamType = 0x1b;

int pidOf(const char *packet)
{
    return ((uchar(packet[1]) & 0x1f) << 8) | uchar(packet[2]);
}

bool isVideo(int streamType)
{
    return streamType == 0x01 || streamType == 0x02 || streamType == kH264StreamType;
}

int readU16(const uchar *bytes)
{
    return (bytes[0] << 8) | bytes[1];
}

// The section a packet opens, or null when it opens none (or it runs past the packet: the
// writers' tables fit in one).
const uchar *sectionOf(const char *packet, int *length)
{
    const auto *bytes = reinterpret_cast<const uchar *>(packet);
    if (!(bytes[1] & 0x40))
        return nullptr;
    int offset = 4;
    if (bytes[3] & 0x20)
        offset += 1 + bytes[4];
    if (!(bytes[3] & 0x10) || offset >= TsProgramMerger::kPacketSize)
        return nullptr;
    offset += 1 + bytes[offset]; // pointer field
    if (offset + 3 > TsProgramMerger::kPacketSize)
        return nullptr;
    const uchar *section = bytes + offset;
    *length = 3 + (readU16(section + 1) & 0x0fff);
    if (offset + *length > TsProgramMerger::kPacketSize || *length < 12)
        return nullptr;
    return section;
}

void appendU16(QByteArray &bytes, int value)
{
    bytes += char((value >> 8) & 0xff);
    bytes += char(value & 0xff);
}

// Fills in the section length and appends the CRC, as ISO 13818-1 computes it.
QByteArray finishSection(QByteArray section)
{
    const int length = section.size() - 3 + 4;
    section[1] = char((uchar(section[1]) & 0xf0) | ((length >> 8) & 0x0f));
    section[2] = char(length & 0xff);
    const uint32_t crc = av_bswap32(av_crc(av_crc_get_table(AV_CRC_32_IEEE), UINT32_MAX,
                                           reinterpret_cast<const uint8_t *>(section.constData()),
                                           size_t(section.size())));
    for (int shift = 24; shift >= 0; shift -= 8)
        section += char((crc >> shift) & 0xff);
    return section;
}

} // namespace

QByteArray TsProgramMerger::take(quintptr source, const QByteArray &packets)
{
    Source &from = m_sources[source];
    QByteArray out;
    out.reserve(packets.size() + 2 * kPacketSize);
    for (int offset = 0; offset + kPacketSize <= packets.size(); offset += kPacketSize) {
        const char *packet = packets.constData() + offset;
        const int pid = pidOf(packet);
        if (pid == kPatPid || pid == from.pmtPid || pid == kPmtPid || pid == kSdtPid) {
            if (learnTable(from, packet))
                m_tablesDue = true;
            continue;
        }
        if (!m_started) {
            m_held.append(packet, kPacketSize);
            if (!programComplete() && m_held.size() < kHoldPackets * kPacketSize)
                continue;
            m_started = true;
            out += tables() + m_held;
            m_packetsSinceTables = m_held.size() / kPacketSize;
            m_held.clear();
            continue;
        }
        if (m_tablesDue || m_packetsSinceTables >= kTablePeriodPackets)
            out += tables();
        out.append(packet, kPacketSize);
        ++m_packetsSinceTables;
    }
    return out;
}

bool TsProgramMerger::programComplete() const
{
    bool video = false;
    bool audio = false;
    for (const Source &source : m_sources)
        for (const Elementary &stream : source.streams) {
            video = video || isVideo(stream.streamType);
            audio = audio || !isVideo(stream.streamType);
        }
    return video && audio;
}

bool TsProgramMerger::learnTable(Source &source, const char *packet)
{
    int length = 0;
    const uchar *section = sectionOf(packet, &length);
    if (!section)
        return false;
    if (section[0] == 0x00) {
        // The first program's PMT PID; the writers carry one program each.
        if (length >= 16)
            source.pmtPid = readU16(section + 10) & 0x1fff;
        return false;
    }
    if (section[0] != 0x02)
        return false;
    QVector<Elementary> streams;
    const int pcrPid = readU16(section + 8) & 0x1fff;
    int pos = 12 + (readU16(section + 10) & 0x0fff);
    const int end = length - 4;
    while (pos + 5 <= end) {
        Elementary stream;
        stream.streamType = section[pos];
        stream.pid = readU16(section + pos + 1) & 0x1fff;
        const int infoLength = readU16(section + pos + 3) & 0x0fff;
        if (pos + 5 + infoLength > end)
            break;
        stream.descriptors =
            QByteArray(reinterpret_cast<const char *>(section + pos + 5), infoLength);
        streams.append(stream);
        pos += 5 + infoLength;
    }
    bool changed = source.pcrPid != pcrPid || source.streams.size() != streams.size();
    for (int i = 0; !changed && i < streams.size(); ++i)
        changed = streams[i].pid != source.streams[i].pid ||
                  streams[i].streamType != source.streams[i].streamType ||
                  streams[i].descriptors != source.streams[i].descriptors;
    if (!changed)
        return false;
    source.pcrPid = pcrPid;
    source.streams = streams;
    m_version = (m_version + 1) % 32;
    return true;
}

QByteArray TsProgramMerger::tables()
{
    m_tablesDue = false;
    m_packetsSinceTables = 0;
    int pcrPid = 0x1fff;
    // By PID, so the video (the writers' lower PID) is the first stream whichever writer
    // connected first.
    QMap<int, Elementary> byPid;
    for (const Source &source : qAsConst(m_sources)) {
        for (const Elementary &stream : source.streams) {
            // The video's clock, when there is video: players pace pictures by it.
            if (pcrPid == 0x1fff || isVideo(stream.streamType))
                pcrPid = source.pcrPid;
            byPid.insert(stream.pid, stream);
        }
    }
    QByteArray entries;
    for (const Elementary &stream : qAsConst(byPid)) {
        entries += char(stream.streamType);
        appendU16(entries, 0xe000 | stream.pid);
        appendU16(entries, 0xf000 | stream.descriptors.size());
        entries += stream.descriptors;
    }
    const char versionByte = char(0xc1 | (m_version << 1));
    QByteArray pat("\x00\xb0\x00\x00\x01", 5);
    pat += versionByte;
    pat += QByteArray("\x00\x00\x00\x01", 4);
    appendU16(pat, 0xe000 | kPmtPid);
    QByteArray pmt("\x02\xb0\x00\x00\x01", 5);
    pmt += versionByte;
    pmt += QByteArray("\x00\x00", 2);
    appendU16(pmt, 0xe000 | pcrPid);
    appendU16(pmt, 0xf000);
    pmt += entries;
    return tablePacket(kPatPid, finishSection(pat), m_patContinuity) +
           tablePacket(kPmtPid, finishSection(pmt), m_pmtContinuity);
}

QByteArray TsProgramMerger::tablePacket(int pid, const QByteArray &section, int &continuity) const
{
    QByteArray packet;
    packet += char(0x47);
    packet += char(0x40 | ((pid >> 8) & 0x1f));
    packet += char(pid & 0xff);
    packet += char(0x10 | continuity);
    continuity = (continuity + 1) % 16;
    packet += char(0x00); // pointer field
    packet += section.left(kPacketSize - 5);
    packet += QByteArray(kPacketSize - packet.size(), char(0xff));
    return packet;
}
