#pragma once

#include "capture/media/MFFrame.h"
#include "capture/media/MFTypes.h"

#include <QString>
#include <memory>

using MFFramePtr = std::shared_ptr<const MFFrame>;

// Frame delivery of a capture source object. Called by one consumer thread at a time.
class IMFSource
{
public:
    virtual ~IMFSource() = default;

    // Blocks until the next tick of the source's frame clock, then returns the latest picture
    // converted to `format` and the sound of the period since the previous tick.
    // `maxWaitMs` -1 means wait as long as the clock needs; `props` is reserved, passed empty.
    virtual MFResult SourceFrameConvertedGet(const MFAVProps &format, int64_t maxWaitMs,
                                             MFFramePtr *frame, const QString &props) = 0;
    // The consumer stops taking frames: what frame delivery opened (a desktop's screen share,
    // a camera, a sound device) is let go, and the next frame request opens it again.
    virtual void SourceClose() {}
};
