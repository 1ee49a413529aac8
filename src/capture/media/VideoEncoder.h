#pragma once

#include "capture/media/FFEncoder.h"
#include "capture/media/MFFrame.h"

// Encodes the pictures of frames for one writer. The picture size may change between frames:
// the encoder is then ended and reopened at the new size, so the stream carries a new sequence
// header and decoders follow. Tuned for delay: no B-frames and no frame held back.
class VideoEncoder : public EncoderBase
{
public:
    using EncoderBase::EncoderBase;

    // Opens the encoder for the frame's picture, or reopens it when the size changed (packets
    // the old encoder still holds go to `sink` first). False with `error` filled on failure.
    bool match(const MFFrame &frame, const PacketSink &sink, QString *error);
    // Encodes the frame's picture; timestamps count frame-clock ticks. Negative AVERROR on
    // failure. Call match() first.
    int encode(const MFFrame &frame, const PacketSink &sink);

private:
    int64_t m_lastFullTick = -1;
};
