#include "session/OutputPresets.h"

namespace OutputPresets {

const QVector<FrameSize> &frameSizes()
{
    static const QVector<FrameSize> sizes{
        {"Mobile (640x360)", {640, 360}},
        {"SD (960x540)", {960, 540}},
        {"HD (1280x720)", {1280, 720}},
        {"FullHD (1920x1080)", {1920, 1080}},
    };
    return sizes;
}

const QVector<Bitrate> &bitrates()
{
    static const QVector<Bitrate> rates{
        {"256 Kbs", 256}, {"512 Kbs", 512},  {"1 Mbs", 1000}, {"1.5 Mbs", 1500},
        {"2 Mbs", 2000},  {"2.5 Mbs", 2500}, {"3 Mbs", 3000}, {"3.5 Mbs", 3500},
        {"4 Mbs", 4000},  {"4.5 Mbs", 4500}, {"5 Mbs", 5000}, {"5.5 Mbs", 5500},
        {"6 Mbs", 6000},  {"7 Mbs", 7000},
    };
    return rates;
}

const QVector<Codec> &videoCodecs()
{
    static const QVector<Codec> codecs{
        {"MPEG-1 (every browser)", VideoCodec::Mpeg1},
        {"H.264 (sharper, fewer bits)", VideoCodec::H264},
    };
    return codecs;
}

} // namespace OutputPresets
