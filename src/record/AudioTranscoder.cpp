#include "record/AudioTranscoder.h"

#include "capture/media/FFLog.h"

#include <QDebug>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

AudioTranscoder::~AudioTranscoder()
{
    swr_free(&m_resampler);
    if (m_queue)
        av_audio_fifo_free(m_queue);
}

bool AudioTranscoder::open(const AVCodecParameters *input, AVRational inputTimeBase,
                           const char *codecName, QString *error)
{
    const AVCodec *decoder = avcodec_find_decoder(input->codec_id);
    if (!decoder) {
        *error = QStringLiteral("no decoder for %1").arg(avcodec_get_name(input->codec_id));
        return false;
    }
    m_decoder.reset(avcodec_alloc_context3(decoder));
    int ret = m_decoder ? avcodec_parameters_to_context(m_decoder.get(), input) : AVERROR(ENOMEM);
    if (ret >= 0) {
        m_decoder->pkt_timebase = inputTimeBase;
        ret = avcodec_open2(m_decoder.get(), decoder, nullptr);
    }
    if (ret < 0) {
        *error = QStringLiteral("%1 decoder: %2").arg(decoder->name, ffErrorText(ret));
        return false;
    }
    m_inputTimeBase = inputTimeBase;
    const AVCodec *encoder = avcodec_find_encoder_by_name(codecName);
    m_encoder = openEncoder(
        codecName, {},
        [input, encoder](AVCodecContext *ctx) {
            ctx->sample_fmt =
                encoder && encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
            ctx->sample_rate = input->sample_rate;
            if (input->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&ctx->ch_layout, input->ch_layout.nb_channels);
            else
                av_channel_layout_copy(&ctx->ch_layout, &input->ch_layout);
            ctx->time_base = AVRational{1, input->sample_rate};
            // The same bitrate as the writer's sound keeps the file's size what it was.
            ctx->bit_rate = input->bit_rate > 0 ? input->bit_rate : 128000;
            // MP4 keeps the codec's set-up once, in its header.
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        },
        error);
    if (!m_encoder)
        return false;
    m_resampler = swr_alloc();
    m_queue = av_audio_fifo_alloc(m_encoder->sample_fmt, m_encoder->ch_layout.nb_channels,
                                  2 * std::max(1, m_encoder->frame_size));
    if (!m_resampler || !m_queue) {
        *error = ffErrorText(AVERROR(ENOMEM));
        return false;
    }
    return true;
}

int AudioTranscoder::describe(AVCodecParameters *output) const
{
    return avcodec_parameters_from_context(output, m_encoder.get());
}

AVRational AudioTranscoder::timeBase() const
{
    return m_encoder->time_base;
}

int AudioTranscoder::transcode(const AVPacket *packet, const PacketSink &sink)
{
    const int ret = avcodec_send_packet(m_decoder.get(), packet);
    if (ret == AVERROR_INVALIDDATA) {
        qWarning() << "recording: a sound packet that does not decode is left out, at"
                   << packet->pts;
        return 0;
    }
    if (ret < 0)
        return ret;
    return queueDecoded(sink);
}

int AudioTranscoder::finish(const PacketSink &sink)
{
    int ret = avcodec_send_packet(m_decoder.get(), nullptr);
    if (ret >= 0)
        ret = queueDecoded(sink);
    if (ret >= 0)
        ret = encodeQueued(true, sink);
    if (ret >= 0)
        ret = avcodec_send_frame(m_encoder.get(), nullptr);
    if (ret >= 0)
        ret = drainEncoder(m_encoder.get(), sink);
    return ret;
}

int AudioTranscoder::queueDecoded(const PacketSink &sink)
{
    FFFramePtr decoded(av_frame_alloc());
    FFFramePtr converted(av_frame_alloc());
    if (!decoded || !converted)
        return AVERROR(ENOMEM);
    for (;;) {
        int ret = avcodec_receive_frame(m_decoder.get(), decoded.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return ret;
        converted->format = m_encoder->sample_fmt;
        converted->sample_rate = m_encoder->sample_rate;
        ret = av_channel_layout_copy(&converted->ch_layout, &m_encoder->ch_layout);
        if (ret >= 0)
            ret = swr_convert_frame(m_resampler, converted.get(), decoded.get());
        if (ret < 0)
            return ret;
        const int queued = av_audio_fifo_size(m_queue);
        if (decoded->best_effort_timestamp != AV_NOPTS_VALUE) {
            const int64_t at =
                av_rescale_q(decoded->best_effort_timestamp, m_inputTimeBase, m_encoder->time_base);
            // The first sound, or sound after a gap: the queue's start moves to match it.
            if (m_nextPts == AV_NOPTS_VALUE ||
                std::abs(at - (m_nextPts + queued)) > converted->nb_samples)
                m_nextPts = at - queued;
        }
        if (m_nextPts == AV_NOPTS_VALUE)
            m_nextPts = 0;
        if (av_audio_fifo_write(m_queue, reinterpret_cast<void **>(converted->extended_data),
                                converted->nb_samples) < converted->nb_samples)
            return AVERROR(ENOMEM);
        av_frame_unref(decoded.get());
        av_frame_unref(converted.get());
        if ((ret = encodeQueued(false, sink)) < 0)
            return ret;
    }
}

int AudioTranscoder::encodeQueued(bool all, const PacketSink &sink)
{
    const int frameSize = std::max(1, m_encoder->frame_size);
    while (av_audio_fifo_size(m_queue) >= (all ? 1 : frameSize)) {
        FFFramePtr frame(av_frame_alloc());
        if (!frame)
            return AVERROR(ENOMEM);
        frame->nb_samples = std::min(frameSize, av_audio_fifo_size(m_queue));
        frame->format = m_encoder->sample_fmt;
        frame->sample_rate = m_encoder->sample_rate;
        int ret = av_channel_layout_copy(&frame->ch_layout, &m_encoder->ch_layout);
        if (ret >= 0)
            ret = av_frame_get_buffer(frame.get(), 0);
        if (ret < 0)
            return ret;
        av_audio_fifo_read(m_queue, reinterpret_cast<void **>(frame->data), frame->nb_samples);
        frame->pts = m_nextPts;
        m_nextPts += frame->nb_samples;
        if ((ret = avcodec_send_frame(m_encoder.get(), frame.get())) < 0 ||
            (ret = drainEncoder(m_encoder.get(), sink)) < 0)
            return ret;
    }
    return 0;
}
