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
    FFFramePtr black(QSize size);

private:
    struct PoolReleaser
    {
        void operator()(AVBufferPool *pool) const { av_buffer_pool_uninit(&pool); }
    };

    // Frames of one size come from a pool: a new picture buffer for every frame would be
    // megabytes of fresh memory 24 times a second. Writers on other threads hand buffers back
    // when they are done; the pool goes when the last one is back.
    FFFramePtr allocate(QSize size);

    struct ScalerKey
    {
        int width = 0;
        int height = 0;
        AVPixelFormat format = AV_PIX_FMT_NONE;
        QSize target;
        bool operator==(const ScalerKey &o) const
        {
            return width == o.width && height == o.height && format == o.format &&
                   target == o.target;
        }
    };

    FFSwsPtr m_sws;
    ScalerKey m_scalerKey;
    std::unique_ptr<AVBufferPool, PoolReleaser> m_pool;
    QSize m_poolSize;
};
