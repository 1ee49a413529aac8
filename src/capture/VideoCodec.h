#pragma once

#include <QString>

// The video codec of the studio's output. MPEG-1 decodes in every browser with JSMpeg; H.264
// needs about a third of the bits for the same picture but a browser with WebCodecs or
// WebAssembly to show it.
enum class VideoCodec {
    Mpeg1,
    H264,
};

namespace VideoCodecs {

// The settings value: "mpeg1" or "h264".
QString key(VideoCodec codec);
// Anything but "h264" (an empty or older settings file) is MPEG-1, the stream every page plays.
VideoCodec fromKey(const QString &key);
// Seconds between full pictures. A joiner's page decodes everything from the last one before
// it is live; H.264 costs a browser more per picture than MPEG-1, so its groups are shorter.
double gopSeconds(VideoCodec codec);

} // namespace VideoCodecs
