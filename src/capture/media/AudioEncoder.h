#pragma once

#include "capture/media/FFEncoder.h"
#include "capture/media/MFFrame.h"

#include <vector>

// Encodes the sound of frames for one writer. Frames carry the sound of one clock period,
// which rarely matches the codec's frame size, so samples wait here until a codec frame is full.
class AudioEncoder : public EncoderBase
{
public:
    using EncoderBase::EncoderBase;

    // Opens the encoder for the frame's sound format (once). False with `error` on failure.
    bool match(const MFFrame &frame, QString *error);
    // Negative AVERROR on failure. Call match() first.
    int encode(const MFFrame &frame, const PacketSink &sink);

private:
    std::vector<int16_t> m_pending;
    int64_t m_nextPts = AV_NOPTS_VALUE;
};
