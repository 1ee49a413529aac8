#include "WriteSchedule.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

using namespace StreamLayout;

WriteSchedule::WriteSchedule(const std::string &path, Stream stream) : m_stream(stream)
{
    std::ifstream in(path, std::ios::binary);
    m_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (m_bytes.empty() || m_bytes.size() % kPacketSize != 0)
        throw std::runtime_error(path + " is not a whole number of transport packets");

    const std::size_t packetCount = m_bytes.size() / kPacketSize;
    std::vector<std::uint32_t> esBefore(packetCount + 1, 0);
    for (std::size_t i = 0; i < packetCount; ++i)
        esBefore[i + 1] = esBefore[i] + (streamOfPacket(&m_bytes[i * kPacketSize]) == stream);

    const std::vector<std::size_t> starts = unitStarts();
    if (starts.empty())
        throw std::runtime_error(path + " holds no access unit on the expected PID");

    std::int64_t firstPts = -1;
    std::int64_t atNs = 0;
    for (std::size_t u = 0; u < starts.size(); ++u) {
        const std::int64_t pts = presentationTime90k(starts[u]);
        if (pts >= 0) {
            if (firstPts < 0)
                firstPts = pts;
            atNs = (pts - firstPts) * 1000000000 / 90000;
        }
        const std::size_t first = u == 0 ? 0 : starts[u];
        const std::size_t end = u + 1 < starts.size() ? starts[u + 1] : packetCount;
        addUnit(first, end, atNs, esBefore);
    }
}

// A unit begins at the packet that starts a PES on our PID, pulled back over the
// tables written just before it, since the muxer emits them with that unit.
std::vector<std::size_t> WriteSchedule::unitStarts() const
{
    std::vector<std::size_t> starts;
    const std::size_t packetCount = m_bytes.size() / kPacketSize;
    for (std::size_t i = 0; i < packetCount; ++i) {
        const std::uint8_t *packet = &m_bytes[i * kPacketSize];
        const bool startsPes = (packet[1] & 0x40) != 0;
        if (streamOfPacket(packet) != m_stream || !startsPes)
            continue;
        std::size_t start = i;
        const std::size_t floor = starts.empty() ? 0 : starts.back() + 1;
        while (start > floor && streamOfPacket(&m_bytes[(start - 1) * kPacketSize]) == StreamCount)
            --start;
        starts.push_back(start);
    }
    return starts;
}

// The PTS of the PES that begins in the first packet on our PID at or after
// packetIndex, or -1 when it carries none.
std::int64_t WriteSchedule::presentationTime90k(std::size_t packetIndex) const
{
    const std::size_t packetCount = m_bytes.size() / kPacketSize;
    while (packetIndex < packetCount &&
           streamOfPacket(&m_bytes[packetIndex * kPacketSize]) != m_stream)
        ++packetIndex;
    if (packetIndex == packetCount)
        return -1;
    const std::uint8_t *packet = &m_bytes[packetIndex * kPacketSize];
    std::size_t payload = 4;
    if (packet[3] & 0x20)
        payload += 1 + packet[4];
    const std::uint8_t *pes = packet + payload;
    if (payload + 14 > kPacketSize || pes[0] != 0 || pes[1] != 0 || pes[2] != 1 ||
        (pes[7] & 0x80) == 0)
        return -1;
    const std::uint8_t *p = pes + 9;
    return (static_cast<std::int64_t>((p[0] >> 1) & 0x07) << 30) |
           (static_cast<std::int64_t>(p[1]) << 22) | (static_cast<std::int64_t>(p[2] >> 1) << 15) |
           (static_cast<std::int64_t>(p[3]) << 7) | (p[4] >> 1);
}

void WriteSchedule::addUnit(std::size_t firstPacket, std::size_t endPacket, std::int64_t atNs,
                            const std::vector<std::uint32_t> &esBefore)
{
    const std::size_t unitEnd = endPacket * kPacketSize;
    for (std::size_t offset = firstPacket * kPacketSize; offset < unitEnd;) {
        const std::size_t length = std::min(kMuxerBufferBytes, unitEnd - offset);
        offset += length;
        // Only packets that are complete after this write can reach a viewer.
        m_writes.push_back({offset - length, length, atNs, esBefore[offset / kPacketSize]});
    }
}
