#pragma once

#include "capture/VideoCodec.h"

#include <QSize>
#include <QString>
#include <QVector>

// The output frame sizes, bitrates and video codecs the presenter picks from.
namespace OutputPresets {

struct FrameSize
{
    const char *text;
    QSize size;
};

struct Bitrate
{
    const char *text;
    int kbps; // 1 Mbs is 1000 kbit/s
};

struct Codec
{
    const char *text;
    VideoCodec codec;
};

const QVector<FrameSize> &frameSizes();
const QVector<Bitrate> &bitrates();
// MPEG-1 first: the default.
const QVector<Codec> &videoCodecs();

} // namespace OutputPresets
