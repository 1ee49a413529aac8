#include "capture/media/PictureConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

QSize evenSize(QSize size)
{
    return QSize(std::max(2, size.width() & ~1), std::max(2, size.height() & ~1));
}

FFFramePtr allocate(QSize size)
{
    FFFramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size.width();
    frame->height = size.height();
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    return frame;
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
    // The cached-context call frees the old scaler itself when it cannot be reused.
    m_sws.reset(sws_getCachedContext(m_sws.release(), source.width, source.height, source.format,
                                     inner.width(), inner.height(), AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                     nullptr, nullptr, nullptr));
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
