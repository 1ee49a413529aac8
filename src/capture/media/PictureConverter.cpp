#include "capture/media/PictureConverter.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
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

FFFramePtr PictureConverter::convert(const Source &source, QSize size, bool keepAspect)
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
    FFFramePtr frame = allocate(size);
    if (!frame)
        return nullptr;
    // sws_getCachedContext() would do this, but it compares against fields that the scaler's
    // own set-up changes for some formats (packed RGB among them) and so rebuilds it each time.
    const ScalerKey key{source.width, source.height, source.format, inner};
    if (!m_sws || !(key == m_scalerKey)) {
        m_sws.reset(sws_getContext(source.width, source.height, source.format, inner.width(),
                                   inner.height(), AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                   nullptr, nullptr));
        m_scalerKey = key;
    }
    if (!m_sws)
        return nullptr;
    const int left = ((size.width() - inner.width()) / 2) & ~1;
    const int top = ((size.height() - inner.height()) / 2) & ~1;
    if (inner != size)
        fillBlack(frame.get());
    uint8_t *const target[4] = {
        frame->data[0] + top * frame->linesize[0] + left,
        frame->data[1] + top / 2 * frame->linesize[1] + left / 2,
        frame->data[2] + top / 2 * frame->linesize[2] + left / 2,
        nullptr,
    };
    sws_scale(m_sws.get(), source.data, source.linesize, 0, source.height, target, frame->linesize);
    return frame;
}
