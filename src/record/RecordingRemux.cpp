#include "record/RecordingRemux.h"

#include "capture/media/FFLog.h"
#include "capture/media/FFPtr.h"
#include "record/AudioTranscoder.h"

#include <QCoreApplication>
#include <QFile>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace {

struct FFOutputCloser
{
    void operator()(AVFormatContext *ctx) const
    {
        if (ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
using FFOutputPtr = std::unique_ptr<AVFormatContext, FFOutputCloser>;

RecordingRemux::Result failure(const QString &what, int code)
{
    return {false, QString(), QStringLiteral("%1: %2").arg(what, ffErrorText(code))};
}

bool addChapters(AVFormatContext *output, ChapterList chapters, qint64 durationMs)
{
    if (chapters.isEmpty())
        return true;
    // MP4's chapter track has no gaps: a first chapter after the start would be read as
    // beginning at 0, so the talk's beginning is a chapter of its own, in both containers.
    if (chapters.first().startMs > 0)
        chapters.prepend({0, QCoreApplication::translate("RecordingRemux", "Start")});
    output->chapters = static_cast<AVChapter **>(av_calloc(chapters.size(), sizeof(AVChapter *)));
    if (!output->chapters)
        return false;
    for (int i = 0; i < chapters.size(); ++i) {
        auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (!chapter)
            return false;
        output->chapters[output->nb_chapters++] = chapter;
        chapter->id = i + 1;
        chapter->time_base = AVRational{1, 1000};
        chapter->start = chapters[i].startMs;
        chapter->end = i + 1 < chapters.size() ? chapters[i + 1].startMs
                                               : std::max(durationMs, chapters[i].startMs);
        av_dict_set(&chapter->metadata, "title", chapters[i].title.toUtf8().constData(), 0);
    }
    return true;
}

// Where an input stream's packets go: an output stream, copied or through a transcoder.
struct Route
{
    int output = -1;
    std::unique_ptr<AudioTranscoder> transcoder;
};

// One remux: the input's packets copied to the output, sound converted where the container
// needs it, timestamps moved so the file starts at zero.
class Remux
{
public:
    Remux(const QString &tsPath, const std::function<void(int)> &progress)
        : m_tsPath(tsPath), m_progress(progress)
    {}

    RecordingRemux::Result run(const QString &outStem, const ChapterList &chapters);

private:
    RecordingRemux::Result openInput();
    RecordingRemux::Result addStreams(bool mp4);
    RecordingRemux::Result copyPackets();
    int routePacket(AVPacket *packet);
    int write(AVPacket *packet, AVRational from, int output);
    // Writes what the route's transcoder makes; the first failure stays in `written`.
    PacketSink converted(const Route &route, int *written);
    void reportProgress();

    QString m_tsPath;
    std::function<void(int)> m_progress;
    FFInputPtr m_input;
    FFOutputPtr m_output;
    std::vector<Route> m_routes;
    int64_t m_startUs = 0;
    int m_lastPercent = -1;
};

RecordingRemux::Result Remux::openInput()
{
    AVFormatContext *rawInput = nullptr;
    int ret = avformat_open_input(&rawInput, m_tsPath.toUtf8().constData(), nullptr, nullptr);
    if (ret < 0)
        return failure(QStringLiteral("cannot read %1").arg(m_tsPath), ret);
    m_input.reset(rawInput);
    if ((ret = avformat_find_stream_info(m_input.get(), nullptr)) < 0)
        return failure(QStringLiteral("cannot read the streams of %1").arg(m_tsPath), ret);
    m_startUs = m_input->start_time == AV_NOPTS_VALUE ? 0 : m_input->start_time;
    return {true, QString(), QString()};
}

RecordingRemux::Result Remux::addStreams(bool mp4)
{
    m_routes.resize(m_input->nb_streams);
    for (unsigned i = 0; i < m_input->nb_streams; ++i) {
        const AVStream *in = m_input->streams[i];
        const AVCodecParameters *par = in->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        AVStream *stream = avformat_new_stream(m_output.get(), nullptr);
        if (!stream)
            return failure(QStringLiteral("cannot add a stream"), AVERROR(ENOMEM));
        Route &route = m_routes[i];
        route.output = stream->index;
        // Browsers play MP4 sound only as AAC; the writers send MP2.
        if (mp4 && par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id != AV_CODEC_ID_AAC) {
            route.transcoder = std::make_unique<AudioTranscoder>();
            QString error;
            if (!route.transcoder->open(par, in->time_base, "aac", &error))
                return {false, QString(),
                        QStringLiteral("cannot convert the sound: %1").arg(error)};
            if (route.transcoder->describe(stream->codecpar) < 0)
                return failure(QStringLiteral("cannot add a stream"), AVERROR(ENOMEM));
            stream->time_base = route.transcoder->timeBase();
            continue;
        }
        if (avcodec_parameters_copy(stream->codecpar, par) < 0)
            return failure(QStringLiteral("cannot add a stream"), AVERROR(ENOMEM));
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->time_base;
        stream->avg_frame_rate = in->avg_frame_rate;
        stream->r_frame_rate = in->r_frame_rate;
    }
    return {true, QString(), QString()};
}

int Remux::write(AVPacket *packet, AVRational from, int output)
{
    packet->pos = -1;
    packet->stream_index = output;
    av_packet_rescale_ts(packet, from, m_output->streams[output]->time_base);
    return av_interleaved_write_frame(m_output.get(), packet);
}

PacketSink Remux::converted(const Route &route, int *written)
{
    return [this, &route, written](AVPacket *packet) {
        if (*written >= 0)
            *written = write(packet, route.transcoder->timeBase(), route.output);
    };
}

int Remux::routePacket(AVPacket *packet)
{
    const int index = packet->stream_index;
    if (index < 0 || index >= int(m_routes.size()) || m_routes[size_t(index)].output < 0 ||
        packet->pts == AV_NOPTS_VALUE)
        return 0;
    const Route &route = m_routes[size_t(index)];
    const AVRational inBase = m_input->streams[index]->time_base;
    const int64_t offset = av_rescale_q(m_startUs, AV_TIME_BASE_Q, inBase);
    packet->pts -= offset;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts -= offset;
    if (!route.transcoder)
        return write(packet, inBase, route.output);
    int written = 0;
    const int ret = route.transcoder->transcode(packet, converted(route, &written));
    return ret < 0 ? ret : written;
}

void Remux::reportProgress()
{
    const int64_t inputSize = avio_size(m_input->pb);
    if (!m_progress || inputSize <= 0)
        return;
    const int percent = int(100 * avio_tell(m_input->pb) / inputSize);
    if (percent != m_lastPercent)
        m_progress(m_lastPercent = percent);
}

RecordingRemux::Result Remux::copyPackets()
{
    FFPacketPtr packet(av_packet_alloc());
    int ret = 0;
    while ((ret = av_read_frame(m_input.get(), packet.get())) >= 0) {
        ret = routePacket(packet.get());
        av_packet_unref(packet.get());
        if (ret < 0)
            return failure(QStringLiteral("cannot write the recording"), ret);
        reportProgress();
    }
    if (ret != AVERROR_EOF)
        return failure(QStringLiteral("cannot read %1").arg(m_tsPath), ret);
    for (const Route &route : m_routes) {
        if (!route.transcoder)
            continue;
        int written = 0;
        ret = route.transcoder->finish(converted(route, &written));
        if (ret < 0 || written < 0)
            return failure(QStringLiteral("cannot write the recording"), ret < 0 ? ret : written);
    }
    return {true, QString(), QString()};
}

RecordingRemux::Result Remux::run(const QString &outStem, const ChapterList &chapters)
{
    RecordingRemux::Result result = openInput();
    if (!result.ok)
        return result;
    bool h264 = false;
    for (unsigned i = 0; i < m_input->nb_streams; ++i)
        h264 = h264 || m_input->streams[i]->codecpar->codec_id == AV_CODEC_ID_H264;
    const QString path = outStem + (h264 ? ".mp4" : ".mkv");
    const QString partPath = path + ".part";

    AVFormatContext *rawOutput = nullptr;
    // The name is where the MP4 muxer reads the file again to move its index.
    int ret = avformat_alloc_output_context2(&rawOutput, nullptr, h264 ? "mp4" : "matroska",
                                             partPath.toUtf8().constData());
    if (ret < 0)
        return failure(QStringLiteral("cannot make the output"), ret);
    m_output.reset(rawOutput);
    if (!(result = addStreams(h264)).ok)
        return result;
    const qint64 durationMs = m_input->duration == AV_NOPTS_VALUE ? 0 : m_input->duration / 1000;
    if (!addChapters(m_output.get(), chapters, durationMs))
        return failure(QStringLiteral("cannot add the chapters"), AVERROR(ENOMEM));

    if ((ret = avio_open(&m_output->pb, partPath.toUtf8().constData(), AVIO_FLAG_WRITE)) < 0)
        return failure(QStringLiteral("cannot write %1").arg(partPath), ret);
    FFDict options;
    // The index first: a browser given the file starts playing before it has all of it.
    if (h264)
        options.set("movflags", "+faststart");
    if ((ret = avformat_write_header(m_output.get(), options.get())) < 0)
        result = failure(QStringLiteral("cannot write %1").arg(partPath), ret);
    else
        result = copyPackets();
    if (result.ok) {
        ret = av_write_trailer(m_output.get());
        if (ret >= 0 && m_output->pb->error < 0)
            ret = m_output->pb->error;
        if (ret < 0)
            result = failure(QStringLiteral("cannot write %1").arg(partPath), ret);
    }
    m_output.reset();
    if (!result.ok) {
        QFile::remove(partPath);
        return result;
    }
    QFile::remove(path);
    if (!QFile::rename(partPath, path)) {
        QFile::remove(partPath);
        return {false, QString(), QStringLiteral("cannot name the file %1").arg(path)};
    }
    if (m_progress)
        m_progress(100);
    return {true, path, QString()};
}

} // namespace

namespace RecordingRemux {

Result run(const QString &tsPath, const QString &outStem, const ChapterList &chapters,
           const std::function<void(int)> &progress)
{
    return Remux(tsPath, progress).run(outStem, chapters);
}

} // namespace RecordingRemux
