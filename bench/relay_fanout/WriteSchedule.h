#pragma once

#include "StreamLayout.h"

#include <cstdint>
#include <string>
#include <vector>

// Cuts one transport-stream file into the writes a live encoder would make:
// one flush per access unit (a video frame, an audio frame) at its
// presentation time, with the tables that precede it, and no write larger than
// the muxer's I/O buffer, which breaks big frames off the 188-byte grid.
class WriteSchedule
{
public:
    struct Write
    {
        std::size_t offset;
        std::size_t length;
        std::int64_t atNs; // from the first access unit of this file
        std::uint32_t esPacketsAfter;
    };

    static constexpr std::size_t kMuxerBufferBytes = 32768;

    WriteSchedule(const std::string &path, StreamLayout::Stream stream);

    const std::vector<std::uint8_t> &bytes() const { return m_bytes; }
    const std::vector<Write> &writes() const { return m_writes; }
    StreamLayout::Stream stream() const { return m_stream; }

private:
    std::vector<std::size_t> unitStarts() const;
    std::int64_t presentationTime90k(std::size_t packetIndex) const;
    void addUnit(std::size_t firstPacket, std::size_t endPacket, std::int64_t atNs,
                 const std::vector<std::uint32_t> &esBefore);

    StreamLayout::Stream m_stream;
    std::vector<std::uint8_t> m_bytes;
    std::vector<Write> m_writes;
};
