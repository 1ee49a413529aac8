#include "support/TsDemux.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <memory>

namespace {

// Serves a byte array to libavformat.
struct MemoryInput
{
    const QByteArray &data;
    qint64 pos = 0;

    static int read(void *opaque, uint8_t *buf, int size)
    {
        auto *self = static_cast<MemoryInput *>(opaque);
        const qint64 left = self->data.size() - self->pos;
        if (left <= 0)
            return AVERROR_EOF;
        const int n = int(std::min<qint64>(left, size));
        std::memcpy(buf, self->data.constData() + self->pos, size_t(n));
        self->pos += n;
        return n;
    }
    static int64_t seek(void *opaque, int64_t offset, int whence)
    {
        auto *self = static_cast<MemoryInput *>(opaque);
        if (whence == AVSEEK_SIZE)
            return self->data.size();
        if (whence == SEEK_CUR)
            offset += self->pos;
        else if (whence == SEEK_END)
            offset += self->data.size();
        self->pos = offset;
        return offset;
    }
};

struct Demuxer
{
    MemoryInput input;
    AVFormatContext *ctx = nullptr;
    AVIOContext *io = nullptr;

    explicit Demuxer(const QByteArray &data) : input{data} {}
    ~Demuxer()
    {
        avformat_close_input(&ctx);
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
    }

    int open()
    {
        const int bufferSize = 188 * 64;
        auto *buffer = static_cast<uint8_t *>(av_malloc(bufferSize));
        io = avio_alloc_context(buffer, bufferSize, 0, &input, &MemoryInput::read, nullptr,
                                &MemoryInput::seek);
        ctx = avformat_alloc_context();
        ctx->pb = io;
        const int ret = avformat_open_input(&ctx, nullptr, av_find_input_format("mpegts"), nullptr);
        if (ret < 0)
            return ret;
        return avformat_find_stream_info(ctx, nullptr);
    }
};

} // namespace

bool TsDemux::open(const QByteArray &data, QString *error)
{
    m_data = data;
    streams.clear();
    packets.clear();
    Demuxer demuxer(m_data);
    const int ret = demuxer.open();
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(ret, text, sizeof text);
        *error = QString::fromUtf8(text);
        return false;
    }
    for (unsigned i = 0; i < demuxer.ctx->nb_streams; ++i) {
        const AVStream *st = demuxer.ctx->streams[i];
        Stream stream;
        stream.type = st->codecpar->codec_type;
        stream.codec = st->codecpar->codec_id;
        stream.pid = st->id;
        stream.width = st->codecpar->width;
        stream.height = st->codecpar->height;
        stream.frameRate = st->r_frame_rate.den ? av_q2d(st->r_frame_rate) : 0;
        stream.sampleRate = st->codecpar->sample_rate;
        stream.channels = st->codecpar->ch_layout.nb_channels;
        streams.append(stream);
    }
    AVPacket *packet = av_packet_alloc();
    while (av_read_frame(demuxer.ctx, packet) >= 0) {
        packets.append(
            {packet->stream_index, packet->size, packet->pos, packet->pts,
             QByteArray(reinterpret_cast<const char *>(packet->data), std::min(packet->size, 4))});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return true;
}

void TsDemux::decodeVideo(const std::function<bool(const Picture &)> &visit) const
{
    Demuxer demuxer(m_data);
    if (demuxer.open() < 0)
        return;
    const int index = av_find_best_stream(demuxer.ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return;
    const AVCodecParameters *par = demuxer.ctx->streams[index]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext *c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), par);
    decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    SwsContext *sws = nullptr;
    bool go = true;
    while (go && av_read_frame(demuxer.ctx, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet) >= 0) {
            while (go && avcodec_receive_frame(decoder.get(), frame) >= 0) {
                Picture picture{QImage(frame->width, frame->height, QImage::Format_RGB32),
                                frame->pkt_pos, frame->best_effort_timestamp, QImage()};
                sws = sws_getCachedContext(
                    sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                    frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
                uint8_t *out[4] = {picture.image.bits(), nullptr, nullptr, nullptr};
                const int stride[4] = {int(picture.image.bytesPerLine()), 0, 0, 0};
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out, stride);
                const AVPixFmtDescriptor *format =
                    av_pix_fmt_desc_get(AVPixelFormat(frame->format));
                if (format && (format->flags & AV_PIX_FMT_FLAG_PLANAR) &&
                    !(format->flags & AV_PIX_FMT_FLAG_RGB)) {
                    picture.luma = QImage(frame->width, frame->height, QImage::Format_Grayscale8);
                    for (int row = 0; row < frame->height; ++row)
                        memcpy(picture.luma.scanLine(row),
                               frame->data[0] + qint64(row) * frame->linesize[0],
                               size_t(frame->width));
                }
                go = visit(picture);
            }
        }
        av_packet_unref(packet);
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
}

double TsDemux::videoBitrate() const
{
    int video = -1;
    for (int i = 0; i < streams.size() && video < 0; ++i)
        if (streams[i].type == AVMEDIA_TYPE_VIDEO)
            video = i;
    qint64 bytes = 0;
    qint64 first = AV_NOPTS_VALUE;
    qint64 last = AV_NOPTS_VALUE;
    int frames = 0;
    for (const Packet &packet : packets) {
        if (packet.stream != video)
            continue;
        bytes += packet.size;
        ++frames;
        if (first == AV_NOPTS_VALUE || packet.pts < first)
            first = packet.pts;
        if (last == AV_NOPTS_VALUE || packet.pts > last)
            last = packet.pts;
    }
    if (frames < 2)
        return 0;
    // The last frame lasts one frame period too.
    const double seconds = double(last - first) / 90000.0 * frames / (frames - 1);
    return bytes * 8.0 / seconds;
}
