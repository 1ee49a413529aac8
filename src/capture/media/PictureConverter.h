#pragma once

#include "capture/media/FFPtr.h"

#include <QRect>
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
    // `previous` (a frame convert() made from an earlier picture of the same source) with only
    // `changed` (a rectangle of the source) converted anew from `source`: a small change costs
    // a small conversion. Converts the whole picture where the sizes do not allow a patch.
    FFFramePtr update(const AVFrame &previous, const Source &source, const QRect &changed,
                      QSize size, bool keepAspect);
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

    struct Placement
    {
        QSize size;  // of the frame
        QRect inner; // where the picture lies in it
    };
    static Placement place(const Source &source, QSize size, bool keepAspect);
    // A scaler as `wanted`, kept in `sws` (made for `kept`) for the next call. Null on failure.
    static SwsContext *scaler(FFSwsPtr &sws, ScalerKey &kept, const ScalerKey &wanted);
    // Scales all of `source` into the rectangle `into` of the planar frame `frame`.
    static void scale(SwsContext *sws, const Source &source, AVFrame *frame, const QRect &into);

    FFSwsPtr m_sws;
    ScalerKey m_scalerKey;
    // Patches come in a few sizes again and again (a blinking caret, a clock).
    FFSwsPtr m_patchSws;
    ScalerKey m_patchKey;
    std::unique_ptr<AVBufferPool, PoolReleaser> m_pool;
    QSize m_poolSize;
};
