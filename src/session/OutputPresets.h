#pragma once

#include <QSize>
#include <QString>
#include <QVector>

// The output frame sizes and bitrates the presenter picks from.
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

const QVector<FrameSize> &frameSizes();
const QVector<Bitrate> &bitrates();

} // namespace OutputPresets
