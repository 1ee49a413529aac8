#pragma once

#include <cstdint>

// What the sender, the viewers and the driver agree on: how the two generated
// transport streams are laid out and how the processes record timings.
namespace StreamLayout {

constexpr int kPacketSize = 188;
constexpr std::uint8_t kSyncByte = 0x47;
constexpr int kIngestPort = 62000;

// The elementary-stream PIDs the generator assigns. They differ between the two
// streams, as in the studio, so a viewer can tell which stream a packet belongs to.
constexpr int kVideoPid = 0x100;
constexpr int kAudioPid = 0x200;

enum Stream : std::uint32_t { Video = 0, Audio = 1, StreamCount = 2 };

// Returns the stream a packet's elementary data belongs to, or StreamCount for
// tables (PAT, PMT, SDT), which do not mark progress.
inline std::uint32_t streamOfPacket(const std::uint8_t *packet)
{
    const int pid = ((packet[1] & 0x1f) << 8) | packet[2];
    if (pid == kVideoPid)
        return Video;
    if (pid == kAudioPid)
        return Audio;
    return StreamCount;
}

// One write of the sender: CLOCK_MONOTONIC just before write(), and how many
// elementary packets of that stream have been written completely with it.
struct SendRecord
{
    std::int64_t timeNs;
    std::uint32_t stream;
    std::uint32_t esPackets;
};

// A viewer's progress on one stream: CLOCK_MONOTONIC after the read that
// completed esPackets elementary packets of that stream.
struct ArrivalRecord
{
    std::int64_t timeNs;
    std::uint32_t stream;
    std::uint32_t esPackets;
};

struct ViewerSummary
{
    std::uint64_t payloadBytes;
    std::uint32_t upgraded;
    std::uint32_t closedByRelay;
    std::uint32_t badPackets; // off the 188-byte grid or without the sync byte
    std::uint32_t arrivalCount;
};

} // namespace StreamLayout
