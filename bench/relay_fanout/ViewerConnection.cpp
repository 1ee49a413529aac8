#include "ViewerConnection.h"

#include <algorithm>
#include <cstring>

using namespace StreamLayout;

namespace {
enum Opcode : std::uint8_t { Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8 };
}

ViewerConnection::ViewerConnection(int fd, int port, const std::string &path) : m_fd(fd)
{
    // The key is fixed: the relay answers it, and checking its reply proves nothing here.
    m_request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

void ViewerConnection::consume(const std::uint8_t *data, std::size_t length, std::int64_t timeNs)
{
    if (m_state == State::Upgrading) {
        const std::size_t used = consumeHandshake(data, length);
        data += used;
        length -= used;
    }
    while (length > 0 && m_state == State::Open) {
        if (m_payloadLeft == 0) {
            const std::size_t used = consumeFrameHeader(data, length);
            data += used;
            length -= used;
            continue;
        }
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_payloadLeft, length));
        if (m_payloadIsData)
            consumeMessageBytes(data, take);
        m_payloadLeft -= take;
        data += take;
        length -= take;
    }
    for (std::uint32_t stream = 0; stream < StreamCount; ++stream) {
        if (m_esPackets[stream] != m_reported[stream]) {
            m_reported[stream] = m_esPackets[stream];
            m_arrivals.push_back({timeNs, stream, m_esPackets[stream]});
        }
    }
}

std::size_t ViewerConnection::consumeHandshake(const std::uint8_t *data, std::size_t length)
{
    const std::size_t before = m_response.size();
    m_response.append(reinterpret_cast<const char *>(data), length);
    const std::size_t end = m_response.find("\r\n\r\n");
    if (end == std::string::npos)
        return length;
    m_upgraded = m_response.compare(0, 12, "HTTP/1.1 101") == 0;
    m_state = m_upgraded ? State::Open : State::Closed;
    m_response.clear();
    return end + 4 - before;
}

std::size_t ViewerConnection::consumeFrameHeader(const std::uint8_t *data, std::size_t length)
{
    std::size_t used = 0;
    auto needed = [this] {
        if (m_headerFill < 2)
            return std::size_t{2};
        const std::uint8_t shortLength = m_header[1] & 0x7f;
        const std::size_t extended = shortLength == 126 ? 2 : shortLength == 127 ? 8 : 0;
        return 2 + extended + ((m_header[1] & 0x80) ? 4 : 0);
    };
    while (used < length && m_headerFill < needed())
        m_header[m_headerFill++] = data[used++];
    if (m_headerFill == needed())
        startFrame();
    return used;
}

void ViewerConnection::startFrame()
{
    const std::uint8_t opcode = m_header[0] & 0x0f;
    const std::uint8_t shortLength = m_header[1] & 0x7f;
    std::uint64_t payload = shortLength;
    if (shortLength >= 126) {
        const std::size_t bytes = shortLength == 126 ? 2 : 8;
        payload = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            payload = (payload << 8) | m_header[2 + i];
    }
    m_headerFill = 0;
    m_payloadLeft = payload;
    m_payloadIsData = opcode == Binary || opcode == Continuation;
    if (opcode == Binary || opcode == Text) {
        // A message must begin on a packet boundary, or the viewer's demuxer loses sync.
        if (m_packetFill != 0)
            ++m_badPackets;
        m_packetFill = 0;
    }
    if (opcode == Close)
        m_state = State::Closed;
}

void ViewerConnection::consumeMessageBytes(const std::uint8_t *data, std::size_t length)
{
    m_payloadBytes += length;
    if (m_packetFill > 0) {
        const std::size_t take = std::min(length, kPacketSize - m_packetFill);
        std::memcpy(m_packet + m_packetFill, data, take);
        m_packetFill += take;
        data += take;
        length -= take;
        if (m_packetFill < kPacketSize)
            return;
        countPacket(m_packet);
        m_packetFill = 0;
    }
    for (; length >= kPacketSize; data += kPacketSize, length -= kPacketSize)
        countPacket(data);
    std::memcpy(m_packet, data, length);
    m_packetFill = length;
}

void ViewerConnection::countPacket(const std::uint8_t *packet)
{
    if (packet[0] != kSyncByte) {
        ++m_badPackets;
        return;
    }
    const std::uint32_t stream = streamOfPacket(packet);
    if (stream != StreamCount)
        ++m_esPackets[stream];
}

ViewerSummary ViewerConnection::summary() const
{
    ViewerSummary summary{};
    summary.payloadBytes = m_payloadBytes;
    summary.upgraded = m_upgraded;
    summary.closedByRelay = m_upgraded && m_state == State::Closed;
    summary.badPackets = m_badPackets;
    summary.arrivalCount = static_cast<std::uint32_t>(m_arrivals.size());
    return summary;
}
