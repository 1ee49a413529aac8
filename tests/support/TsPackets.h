#pragma once

#include <QByteArray>

// Transport-stream packets built by hand, for tests of what the relay reads in a stream.
namespace TsPackets {

constexpr int kSize = 188;
constexpr int kVideoStream = 0xe0;
constexpr int kAudioStream = 0xc0;

inline QByteArray sequenceHeaderCode()
{
    return QByteArray("\x00\x00\x01\xb3", 4);
}
inline QByteArray pictureStartCode()
{
    return QByteArray("\x00\x00\x01\x00", 4);
}

// A packet of `pid` that opens a PES of `streamId` (with a PTS) whose data starts with `data`.
// `stuffing` bytes of adaptation field come first when not 0. The rest is filler without
// start codes.
inline QByteArray pesStart(int pid, int streamId, const QByteArray &data, int stuffing = 0)
{
    QByteArray packet;
    packet += char(0x47);
    packet += char(0x40 | ((pid >> 8) & 0x1f));
    packet += char(pid & 0xff);
    packet += char(stuffing ? 0x30 : 0x10);
    if (stuffing) {
        packet += char(stuffing - 1);
        packet += QByteArray(stuffing - 1, char(0xff));
    }
    packet += QByteArray("\x00\x00\x01", 3) + char(streamId);
    packet += QByteArray("\x00\x00\x80\x80\x05\x21\x00\x01\x00\x01", 10);
    packet += data;
    packet += QByteArray(kSize - packet.size(), char(0x55));
    return packet;
}

// A packet that continues a PES of `pid`, its payload all `fill`.
inline QByteArray continuation(int pid, char fill = char(0x55))
{
    QByteArray packet(kSize, fill);
    packet[0] = char(0x47);
    packet[1] = char((pid >> 8) & 0x1f);
    packet[2] = char(pid & 0xff);
    packet[3] = char(0x10);
    return packet;
}

// A video frame: its opening packet and `more` continuation packets.
inline QByteArray videoFrame(int pid, bool fullPicture, int more, char fill = char(0x55))
{
    QByteArray frame =
        pesStart(pid, kVideoStream, fullPicture ? sequenceHeaderCode() : pictureStartCode());
    for (int i = 0; i < more; ++i)
        frame += continuation(pid, fill);
    return frame;
}

} // namespace TsPackets
