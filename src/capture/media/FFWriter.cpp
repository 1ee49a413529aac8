#include "capture/media/FFWriter.h"

#include "capture/media/FFLog.h"

#include <QDebug>
#include <cstring>

namespace {
// Frames waiting for the encoder beyond this (two seconds) are dropped, oldest first, so that a
// stalled receiver cannot grow memory without limit.
constexpr size_t maxQueuedFrames = 48;
} // namespace

void FFWriter::OutputCloser::operator()(AVFormatContext *ctx) const
{
    if (ctx->pb)
        avio_closep(&ctx->pb);
    avformat_free_context(ctx);
}

FFWriter::FFWriter()
{
    ffInit();
}

FFWriter::~FFWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

int FFWriter::interrupted(void *self)
{
    return static_cast<FFWriter *>(self)->m_closing ? 1 : 0;
}

MFResult FFWriter::WriterSet(const QString &target, int flags, const QString &config)
{
    Q_UNUSED(flags)
    if (m_output)
        return AVERROR(EBUSY);
    QString error;
    if (!WriterConfig::parse(config, &m_config, &error)) {
        qCritical() << "writer configuration rejected:" << error;
        return AVERROR(EINVAL);
    }
    AVFormatContext *ctx = nullptr;
    const QByteArray url = target.toUtf8();
    int ret =
        avformat_alloc_output_context2(&ctx, nullptr, m_config.format.constData(), url.constData());
    if (ret < 0) {
        qCritical() << "writer format" << m_config.format << "unavailable:" << ffErrorText(ret);
        return ret;
    }
    m_output.reset(ctx);
    ctx->interrupt_callback = AVIOInterruptCB{&FFWriter::interrupted, this};
    ctx->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    ctx->max_delay = 0;
    ret = avio_open2(&ctx->pb, url.constData(), AVIO_FLAG_WRITE, &ctx->interrupt_callback, nullptr);
    if (ret < 0) {
        qCritical() << "writer cannot reach" << target << ":" << ffErrorText(ret);
        m_output.reset();
        return ret;
    }
    if (m_config.hasVideo())
        m_video.emplace(m_config.videoCodec, m_config.videoOptions);
    if (m_config.hasAudio())
        m_audio.emplace(m_config.audioCodec, m_config.audioOptions);
    m_thread = std::thread(&FFWriter::pump, this);
    return MF_OK;
}

MFResult FFWriter::ReceiverFramePut(const MFFramePtr &frame, int64_t maxWaitMs,
                                    const QString &props)
{
    Q_UNUSED(maxWaitMs)
    Q_UNUSED(props)
    if (!frame)
        return AVERROR(EINVAL);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable())
            return AVERROR(EINVAL);
        if (m_failed)
            return AVERROR(EPIPE);
        if (m_queue.size() >= maxQueuedFrames) {
            m_queue.pop_front();
            if (!m_overflowLogged)
                qWarning() << "writer falls behind; dropping frames";
            m_overflowLogged = true;
        } else {
            m_overflowLogged = false;
        }
        m_queue.push_back(frame);
    }
    m_wake.notify_one();
    return MF_OK;
}

void FFWriter::pump()
{
    for (;;) {
        MFFramePtr frame;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            if (m_closing)
                break;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
        }
        writeFrame(*frame);
    }
    if (m_headerWritten && !m_failed)
        av_write_trailer(m_output.get());
}

void FFWriter::fail(const QString &what)
{
    // Being released interrupts a send in progress; that is no failure to report.
    if (!m_closing)
        qCritical().noquote() << "writer stops:" << what;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failed = true;
    m_queue.clear();
}

void FFWriter::writeFrame(const MFFrame &frame)
{
    if (m_failed || !startMuxer(frame))
        return;
    QString error;
    int ret = 0;
    if (m_video && frame.picture()) {
        const PacketSink sink = [this](AVPacket *p) {
            mux(p, m_video->context(), m_videoStream);
        };
        if (!m_video->match(frame, sink, &error))
            return fail(error);
        ret = m_video->encode(frame, sink);
    }
    if (ret >= 0 && m_audio && !frame.audio().empty())
        ret = m_audio->encode(frame,
                              [this](AVPacket *p) { mux(p, m_audio->context(), m_audioStream); });
    if (ret < 0)
        fail(QStringLiteral("encoding: ") + ffErrorText(ret));
}

bool FFWriter::startMuxer(const MFFrame &frame)
{
    if (m_headerWritten)
        return true;
    // The encoders open on the first frame that has what they need; the header waits for all.
    QString error;
    const auto nothing = [](AVPacket *) {
    };
    if (m_video && (!frame.picture() || !m_video->match(frame, nothing, &error))) {
        if (!error.isEmpty())
            fail(error);
        return false;
    }
    if (m_audio && !m_audio->match(frame, &error)) {
        fail(error);
        return false;
    }
    if (m_video)
        m_videoStream = addStream(m_video->context(), videoPid);
    if (m_audio)
        m_audioStream = addStream(m_audio->context(), audioPid);
    if ((m_video && !m_videoStream) || (m_audio && !m_audioStream)) {
        fail(QStringLiteral("cannot add a stream"));
        return false;
    }
    FFDict options;
    for (const auto &option : m_config.formatOptions)
        options.set(option.first.constData(), option.second.constData());
    if (std::strcmp(m_output->oformat->name, "mpegts") == 0)
        // Audio packets would otherwise wait until almost 3 KB have gathered (a third of a
        // second at 64 kbit/s).
        av_dict_set(options.get(), "pes_payload_size", "0", AV_DICT_DONT_OVERWRITE);
    const int ret = avformat_write_header(m_output.get(), options.get());
    if (ret < 0) {
        fail(QStringLiteral("header: ") + ffErrorText(ret));
        return false;
    }
    m_headerWritten = true;
    return true;
}

AVStream *FFWriter::addStream(const AVCodecContext *encoder, int pid)
{
    AVStream *stream = avformat_new_stream(m_output.get(), nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder) < 0)
        return nullptr;
    stream->id = pid;
    stream->time_base = encoder->time_base;
    return stream;
}

void FFWriter::mux(AVPacket *packet, const AVCodecContext *encoder, const AVStream *stream)
{
    if (m_failed)
        return;
    av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    const int ret = av_interleaved_write_frame(m_output.get(), packet);
    if (ret < 0)
        fail(QStringLiteral("sending: ") + ffErrorText(ret));
}
