#include "capture/media/PictureConverter.h"

#include "capture/media/ScaledPatch.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

QSize evenSize(QSize size)
{
    return QSize(std::max(2, size.width() & ~1), std::max(2, size.height() & ~1));
}

void fillBlack(AVFrame *frame)
{
    // Limited-range black, as MPEG expects.
    const int chromaRows = (frame->height + 1) / 2;
    std::memset(frame->data[0], 16, size_t(frame->linesize[0]) * size_t(frame->height));
    std::memset(frame->data[1], 128, size_t(frame->linesize[1]) * size_t(chromaRows));
    std::memset(frame->data[2], 128, size_t(frame->linesize[2]) * size_t(chromaRows));
}

} // namespace

FFFramePtr PictureConverter::allocate(QSize size)
{
    constexpr int align = 64;
    const int bytes =
        av_image_get_buffer_size(AV_PIX_FMT_YUV420P, size.width(), size.height(), align);
    if (!m_pool || size != m_poolSize) {
        m_pool.reset(av_buffer_pool_init(size_t(bytes), nullptr));
        m_poolSize = size;
    }
    FFFramePtr frame(av_frame_alloc());
    if (!frame || !m_pool)
        return nullptr;
    frame->buf[0] = av_buffer_pool_get(m_pool.get());
    if (!frame->buf[0])
        return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size.width();
    frame->height = size.height();
    if (av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, AV_PIX_FMT_YUV420P,
                             size.width(), size.height(), align) < 0)
        return nullptr;
    return frame;
}

FFFramePtr PictureConverter::black(QSize size)
{
    FFFramePtr frame = allocate(evenSize(size));
    if (frame)
        fillBlack(frame.get());
    return frame;
}

PictureConverter::Placement PictureConverter::place(const Source &source, QSize size,
                                                    bool keepAspect)
{
    size = evenSize(size);
    QSize inner = size;
    if (keepAspect) {
        const double scale =
            std::min(double(size.width()) / source.width, double(size.height()) / source.height);
        inner = evenSize(QSize(int(std::lround(source.width * scale)),
                               int(std::lround(source.height * scale))))
                    .boundedTo(size);
    }
    const int left = ((size.width() - inner.width()) / 2) & ~1;
    const int top = ((size.height() - inner.height()) / 2) & ~1;
    return {size, QRect(QPoint(left, top), inner)};
}

SwsContext *PictureConverter::scaler(FFSwsPtr &sws, ScalerKey &kept, const ScalerKey &wanted)
{
    // sws_getCachedContext() would do this, but it compares against fields that the scaler's
    // own set-up changes for some formats (packed RGB among them) and so rebuilds it each time.
    if (!sws || !(wanted == kept)) {
        sws.reset(sws_getContext(wanted.width, wanted.height, wanted.format, wanted.target.width(),
                                 wanted.target.height(), AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                 nullptr, nullptr));
        kept = wanted;
    }
    return sws.get();
}

void PictureConverter::scale(SwsContext *sws, const Source &source, AVFrame *frame,
                             const QRect &into)
{
    const int left = into.x();
    const int top = into.y();
    uint8_t *const target[4] = {
        frame->data[0] + top * frame->linesize[0] + left,
        frame->data[1] + top / 2 * frame->linesize[1] + left / 2,
        frame->data[2] + top / 2 * frame->linesize[2] + left / 2,
        nullptr,
    };
    sws_scale(sws, source.data, source.linesize, 0, source.height, target, frame->linesize);
}

FFFramePtr PictureConverter::convert(const Source &source, QSize size, bool keepAspect)
{
    const Placement placement = place(source, size, keepAspect);
    FFFramePtr frame = allocate(placement.size);
    if (!frame)
        return nullptr;
    SwsContext *sws = scaler(m_sws, m_scalerKey,
                             {source.width, source.height, source.format, placement.inner.size()});
    if (!sws)
        return nullptr;
    if (placement.inner.size() != placement.size)
        fillBlack(frame.get());
    scale(sws, source, frame.get(), placement.inner);
    return frame;
}

FFFramePtr PictureConverter::update(const AVFrame &previous, const Source &source,
                                    const QRect &changed, QSize size, bool keepAspect)
{
    const Placement placement = place(source, size, keepAspect);
    const AVPixFmtDescriptor *packed = av_pix_fmt_desc_get(source.format);
    const std::optional<ScaledPatch> patch =
        ScaledPatch::place(QSize(source.width, source.height), placement.inner.size(), changed);
    if (!patch || !packed || (packed->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        previous.width != placement.size.width() || previous.height != placement.size.height() ||
        previous.format != AV_PIX_FMT_YUV420P)
        return convert(source, size, keepAspect);
    FFFramePtr frame = allocate(placement.size);
    FFFramePtr scaled(av_frame_alloc());
    if (!frame || !scaled || av_frame_copy(frame.get(), &previous) < 0)
        return nullptr;
    scaled->format = AV_PIX_FMT_YUV420P;
    scaled->width = patch->scaled.width();
    scaled->height = patch->scaled.height();
    SwsContext *sws =
        scaler(m_patchSws, m_patchKey,
               {patch->source.width(), patch->source.height(), source.format, patch->scaled});
    if (av_frame_get_buffer(scaled.get(), 0) < 0 || !sws)
        return nullptr;
    const int bytesPerPixel = av_get_padded_bits_per_pixel(packed) / 8;
    const uint8_t *const part[4] = {source.data[0] +
                                    size_t(patch->source.y()) * size_t(source.linesize[0]) +
                                    size_t(patch->source.x()) * size_t(bytesPerPixel)};
    scale(sws,
          {part, source.linesize, source.format, patch->source.width(), patch->source.height()},
          scaled.get(), QRect(QPoint(), patch->scaled));
    // Only the part inside the margin is right; it goes where the whole conversion puts it.
    const QRect to = patch->target.translated(placement.inner.topLeft());
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane == 0 ? 0 : 1;
        const int width = patch->kept.width() >> shift;
        for (int row = patch->kept.top() >> shift, end = (patch->kept.bottom() + 1) >> shift,
                 into = to.top() >> shift;
             row < end; ++row, ++into)
            std::memcpy(frame->data[plane] + into * frame->linesize[plane] + (to.left() >> shift),
                        scaled->data[plane] + row * scaled->linesize[plane] +
                            (patch->kept.left() >> shift),
                        size_t(width));
    }
    return frame;
}
