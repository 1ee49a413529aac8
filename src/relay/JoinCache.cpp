#include "relay/JoinCache.h"

#include "relay/TsPacketAligner.h"

#include <QDebug>
#include <algorithm>
#include <iterator>

namespace {

constexpr int kPacketSize = TsPacketAligner::kPacketSize;
constexpr char kSequenceHeaderCode[] = {0x00, 0x00, 0x01, char(0xb3)};

} // namespace

bool JoinCache::opensSequence(const char *packet)
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
    // Start codes cannot occur inside MPEG-1 video data, so a match is a real header.
    const char *end = packet + kPacketSize;
    return std::search(packet + data, end, std::begin(kSequenceHeaderCode),
                       std::end(kSequenceHeaderCode)) != end;
}

void JoinCache::append(const QByteArray &packets)
{
    int restart = -1;
    for (int offset = 0; offset + kPacketSize <= packets.size(); offset += kPacketSize)
        if (opensSequence(packets.constData() + offset))
            restart = offset;
    if (restart >= 0)
        m_packets = restart == 0 ? packets : packets.mid(restart);
    else if (!m_packets.isEmpty())
        m_packets += packets;
    if (m_packets.size() > kMaxBytes) {
        qWarning() << "relay: no sequence header in" << m_packets.size()
                   << "bytes of video; late viewers wait for the next full picture";
        m_packets.clear();
    }
}
