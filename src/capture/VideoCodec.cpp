#include "capture/VideoCodec.h"

namespace VideoCodecs {

QString key(VideoCodec codec)
{
    return codec == VideoCodec::H264 ? QStringLiteral("h264") : QStringLiteral("mpeg1");
}

VideoCodec fromKey(const QString &key)
{
    return key == QLatin1String("h264") ? VideoCodec::H264 : VideoCodec::Mpeg1;
}

double gopSeconds(VideoCodec codec)
{
    return codec == VideoCodec::H264 ? 2.0 : 10.0;
}

} // namespace VideoCodecs
