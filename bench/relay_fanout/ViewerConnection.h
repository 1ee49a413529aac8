#pragma once

#include "StreamLayout.h"

#include <cstdint>
#include <string>
#include <vector>

// One viewer's WebSocket on the relay's video path, reduced to what the
// benchmark needs: the upgrade handshake, server frames (never masked), and
// the transport packets inside binary messages, counted per stream with the
// time each read completed them. The socket itself belongs to the caller.
class ViewerConnection
{
public:
    enum class State { Upgrading, Open, Closed };

    // `path`: the stream's WebSocket path on the relay.
    ViewerConnection(int fd, int port, const std::string &path);

    int fd() const { return m_fd; }
    State state() const { return m_state; }
    const std::string &upgradeRequest() const { return m_request; }

    // Bytes read from the socket at timeNs.
    void consume(const std::uint8_t *data, std::size_t length, std::int64_t timeNs);
    void markClosed() { m_state = State::Closed; }

    StreamLayout::ViewerSummary summary() const;
    const std::vector<StreamLayout::ArrivalRecord> &arrivals() const { return m_arrivals; }

private:
    std::size_t consumeHandshake(const std::uint8_t *data, std::size_t length);
    std::size_t consumeFrameHeader(const std::uint8_t *data, std::size_t length);
    void startFrame();
    void consumeMessageBytes(const std::uint8_t *data, std::size_t length);
    void countPacket(const std::uint8_t *packet);

    int m_fd;
    State m_state = State::Upgrading;
    std::string m_request;
    std::string m_response;
    bool m_upgraded = false;

    std::uint8_t m_header[14] = {};
    std::size_t m_headerFill = 0;
    std::uint64_t m_payloadLeft = 0;
    bool m_payloadIsData = false;

    std::uint8_t m_packet[StreamLayout::kPacketSize] = {};
    std::size_t m_packetFill = 0;
    std::uint64_t m_payloadBytes = 0;
    std::uint32_t m_badPackets = 0;
    std::uint32_t m_esPackets[StreamLayout::StreamCount] = {};
    std::uint32_t m_reported[StreamLayout::StreamCount] = {};
    std::vector<StreamLayout::ArrivalRecord> m_arrivals;
};
