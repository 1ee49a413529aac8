#pragma once

#include "support/TsDemux.h"

#include <QColor>
#include <cstdlib>

// Checks shared by the tests that read back what capture sessions sent.
namespace CaptureChecks {

// Close enough after scaling and MPEG-1 coding.
inline bool near(QRgb actual, QRgb expected)
{
    const int tolerance = 24;
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

inline int countPackets(const TsDemux &demux, AVMediaType type)
{
    int count = 0;
    for (const TsDemux::Packet &packet : demux.packets)
        count += demux.streams[packet.stream].type == type ? 1 : 0;
    return count;
}

} // namespace CaptureChecks
