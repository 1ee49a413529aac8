#include "capture/media/VideoEncoder.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// How much finer a settled picture is quantised than the rate control would pick, as a share
// of the quantiser's range: about 25 steps for x264. Its rate control, after motion, gives
// each repeat of the now still screen about the quantiser of the motion and lowers it a few
// steps a picture, and a repeat quantised no finer than its reference codes nothing at all; so
// with repeats only every period after the pause, the page stayed blurred for longer than on
// the clock, which repeats it every tick. The stream's buffer still bounds every picture, so
// the preset stays the ceiling. Encoders without regions of interest (MPEG-1) ignore it.
constexpr AVRational settledQuantOffset{-1, 2};

bool askFinerQuantiser(AVFrame *picture)
{
    AVFrameSideData *side = av_frame_new_side_data(picture, AV_FRAME_DATA_REGIONS_OF_INTEREST,
                                                   sizeof(AVRegionOfInterest));
    if (!side)
        return false;
    auto *region = reinterpret_cast<AVRegionOfInterest *>(side->data);
    region->self_size = sizeof(AVRegionOfInterest);
    region->top = 0;
    region->left = 0;
    region->bottom = picture->height;
    region->right = picture->width;
    region->qoffset = settledQuantOffset;
    return true;
}

} // namespace

bool VideoEncoder::match(const MFFrame &frame, const PacketSink &sink, QString *error)
{
    const AVFrame *picture = frame.picture();
    if (m_context && m_context->width == picture->width && m_context->height == picture->height)
        return true;
    if (m_context) {
        avcodec_send_frame(m_context.get(), nullptr);
        drainEncoder(m_context.get(), sink);
        m_context.reset();
    }
    const int rate = std::max(1, int(std::lround(frame.format().video.frameRate)));
    m_context = openEncoder(
        m_codecName, m_options,
        [picture, rate](AVCodecContext *ctx) {
            ctx->width = picture->width;
            ctx->height = picture->height;
            ctx->pix_fmt = AVPixelFormat(picture->format);
            ctx->time_base = AVRational{1, rate};
            ctx->framerate = AVRational{rate, 1};
            ctx->max_b_frames = 0;
            // Without these MPEG-1 holds every picture back by one frame.
            ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
            ctx->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        },
        error);
    return m_context != nullptr;
}

int VideoEncoder::encode(const MFFrame &frame, const PacketSink &sink)
{
    FFFramePtr input(av_frame_alloc());
    if (!input)
        return AVERROR(ENOMEM);
    int ret = av_frame_ref(input.get(), frame.picture());
    if (ret < 0)
        return ret;
    input->pts = frame.tick();
    // A settled picture is a full one when a group's length of ticks has passed since the last:
    // joiners then start from it. Sooner, an ordinary picture sharpens the still screen as well
    // for a fraction of the bits and the encoding time, and joiners start at the last full one.
    const bool fullDue = m_lastFullTick < 0 || frame.tick() - m_lastFullTick >= m_context->gop_size;
    input->pict_type = frame.settled() && fullDue ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (frame.settled() && !askFinerQuantiser(input.get()))
        return AVERROR(ENOMEM);
    ret = avcodec_send_frame(m_context.get(), input.get());
    if (ret < 0)
        return ret;
    return drainEncoder(m_context.get(), [this, &sink](AVPacket *packet) {
        if (packet->flags & AV_PKT_FLAG_KEY)
            m_lastFullTick = packet->pts;
        sink(packet);
    });
}
