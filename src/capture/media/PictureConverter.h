#pragma once

#include "capture/media/FFPtr.h"

#include <QSize>

// Scales pictures to the output size and converts them to planar YUV 4:2:0, the encoders' input.
// Keeps its scaler between calls; one thread at a time.
class PictureConverter
{
public:
    struct Source
    {
        const uint8_t *const *data;
        const int *linesize;
        AVPixelFormat format;
        int width;
        int height;
    };

    // A new frame of `size` (rounded down to even numbers). With `keepAspect` the picture keeps
    // its proportions and is centred on black; otherwise it fills the frame. Null on failure.
    FFFramePtr convert(const Source &source, QSize size, bool keepAspect);
    // An all-black frame of `size`.
    static FFFramePtr black(QSize size);

private:
    FFSwsPtr m_sws;
};
