#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <functional>

extern "C" {
#include <libavformat/avformat.h>
}

// Reads a recorded MPEG transport stream with libavformat, as a viewer's demuxer would.
class TsDemux
{
public:
    struct Stream
    {
        AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
        AVCodecID codec = AV_CODEC_ID_NONE;
        int pid = 0;
        int width = 0;
        int height = 0;
        double frameRate = 0;
        int sampleRate = 0;
        int channels = 0;
    };
    struct Packet
    {
        int stream;
        int size;
        qint64 pos;      // byte offset in the recording of the packet's first transport packet
        qint64 pts;      // in 1/90000 s
        QByteArray head; // the payload's first four bytes
    };
    struct Picture
    {
        QImage image; // RGB32
        qint64 pos;   // as in Packet
        qint64 pts;   // as in Packet
        QImage luma;  // the decoded Y plane as coded (Grayscale8), for planar YUV pictures
    };

    // Demuxes all of `data`. False with `error` filled when it is no readable stream.
    bool open(const QByteArray &data, QString *error);

    QList<Stream> streams;
    QList<Packet> packets;

    // Decodes the first video stream's pictures in order; `visit` returns false to stop.
    void decodeVideo(const std::function<bool(const Picture &)> &visit) const;

    // Bits per second of the video stream's payload over the span of its timestamps.
    double videoBitrate() const;

private:
    QByteArray m_data;
};
