#include "capture/media/AudioEncoder.h"

#include <algorithm>
#include <cstring>

bool AudioEncoder::match(const MFFrame &frame, QString *error)
{
    if (m_context)
        return true;
    const MFAudioProps &sound = frame.format().audio;
    if (sound.channels <= 0 || sound.samplesPerSec <= 0 || sound.bitsPerSample != 16) {
        *error = QStringLiteral("frames carry no 16-bit sound");
        return false;
    }
    m_context = openEncoder(
        m_codecName, m_options,
        [&sound](AVCodecContext *ctx) {
            ctx->sample_fmt = AV_SAMPLE_FMT_S16;
            ctx->sample_rate = sound.samplesPerSec;
            av_channel_layout_default(&ctx->ch_layout, sound.channels);
            ctx->time_base = AVRational{1, sound.samplesPerSec};
        },
        error);
    if (!m_context)
        return false;
    // Start the sample count where the frame clock stands, so that both writers' timestamps
    // tell the same time.
    const double rate = frame.format().video.frameRate > 0 ? frame.format().video.frameRate : 24.0;
    m_nextPts = int64_t(double(frame.tick()) * sound.samplesPerSec / rate);
    return true;
}

int AudioEncoder::encode(const MFFrame &frame, const PacketSink &sink)
{
    const int channels = m_context->ch_layout.nb_channels;
    const size_t codecFrame = size_t(std::max(1, m_context->frame_size)) * size_t(channels);
    m_pending.insert(m_pending.end(), frame.audio().begin(), frame.audio().end());
    size_t used = 0;
    int ret = 0;
    while (ret >= 0 && m_pending.size() - used >= codecFrame) {
        FFFramePtr input(av_frame_alloc());
        if (!input)
            return AVERROR(ENOMEM);
        input->nb_samples = int(codecFrame) / channels;
        input->format = m_context->sample_fmt;
        input->sample_rate = m_context->sample_rate;
        ret = av_channel_layout_copy(&input->ch_layout, &m_context->ch_layout);
        if (ret >= 0)
            ret = av_frame_get_buffer(input.get(), 0);
        if (ret < 0)
            break;
        std::memcpy(input->data[0], m_pending.data() + used, codecFrame * sizeof(int16_t));
        used += codecFrame;
        input->pts = m_nextPts;
        m_nextPts += input->nb_samples;
        ret = avcodec_send_frame(m_context.get(), input.get());
        if (ret >= 0)
            ret = drainEncoder(m_context.get(), sink);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + ptrdiff_t(used));
    return ret;
}
