#pragma once

#include <QByteArray>

// Transport-stream packets built by hand, for tests of what the relay reads in a stream.
namespace TsPackets {

// `count` packets of a fill byte that changes with `seed` and from packet to packet: a stream
// whose every byte a receiver can check.
inline QByteArray packets(int count, int seed)
{
    QByteArray stream;
    for (int i = 0; i < count; ++i) {
        QByteArray packet(188, char((seed + i) & 0x7f));
        packet[0] = 0x47;
        stream += packet;
    }
    return stream;
}

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

// H.264 NAL units as the studio's encoder starts them: an access unit delimiter, then the
// parameter sets before an IDR slice, or a plain slice.
inline QByteArray h264Idr()
{
    return QByteArray("\x00\x00\x00\x01\x09\xf0\x00\x00\x00\x01\x67\x42\xc0\x1e", 14);
}
inline QByteArray h264Slice()
{
    return QByteArray("\x00\x00\x00\x01\x09\xf0\x00\x00\x00\x01\x41\x9a\x02", 13);
}

// A program table section in one packet of `pid`: `body` follows the eight header bytes; the
// CRC is not computed (a relay does not check it).
inline QByteArray tableSection(int pid, int tableId, const QByteArray &body)
{
    QByteArray packet;
    packet += char(0x47);
    packet += char(0x40 | ((pid >> 8) & 0x1f));
    packet += char(pid & 0xff);
    packet += char(0x10);
    packet += char(0x00); // pointer field
    const int length = 5 + body.size() + 4;
    packet += char(tableId);
    packet += char(0xb0 | ((length >> 8) & 0x0f));
    packet += char(length & 0xff);
    packet += QByteArray("\x00\x01\xc1\x00\x00", 5);
    packet += body;
    packet += QByteArray(4, char(0x5a));
    packet += QByteArray(kSize - packet.size(), char(0xff));
    return packet;
}

// A PAT naming one program whose PMT is on `pmtPid`.
inline QByteArray pat(int pmtPid = 0x1000)
{
    QByteArray body("\x00\x01", 2);
    body += char(0xe0 | ((pmtPid >> 8) & 0x1f));
    body += char(pmtPid & 0xff);
    return tableSection(0, 0x00, body);
}

// A PMT listing one elementary stream of `streamType` on `pid`.
inline QByteArray pmt(int streamType, int pid, int pmtPid = 0x1000)
{
    QByteArray body;
    body += char(0xe0 | ((pid >> 8) & 0x1f)); // PCR PID
    body += char(pid & 0xff);
    body += QByteArray("\xf0\x00", 2); // no program descriptors
    body += char(streamType);
    body += char(0xe0 | ((pid >> 8) & 0x1f));
    body += char(pid & 0xff);
    body += QByteArray("\xf0\x00", 2);
    return tableSection(pmtPid, 0x02, body);
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

inline QByteArray h264Frame(int pid, bool idr, int more, char fill = char(0x55))
{
    QByteArray frame = pesStart(pid, kVideoStream, idr ? h264Idr() : h264Slice());
    for (int i = 0; i < more; ++i)
        frame += continuation(pid, fill);
    return frame;
}

// Feeds enough rooms to pass `budgetBytes`, each a group of about 13 MB that then stops, as a
// presenter may do on purpose: feed(room, packets) for each piece, rooms counted from 0. Returns
// the number of rooms.
template <typename Feed> int feedLargeGroups(qint64 budgetBytes, Feed feed)
{
    const QByteArray start = videoFrame(0x100, true, 0);
    const QByteArray frame = videoFrame(0x100, false, 10000); // about 1.9 MB
    const int framesPerGroup = 7;
    const qint64 groupBytes = start.size() + framesPerGroup * qint64(frame.size());
    const int rooms = int(budgetBytes / groupBytes) + 4;
    for (int room = 0; room < rooms; ++room) {
        feed(room, start);
        for (int i = 0; i < framesPerGroup; ++i)
            feed(room, frame);
    }
    return rooms;
}

} // namespace TsPackets
