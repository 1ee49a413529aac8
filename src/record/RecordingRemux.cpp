#include "record/RecordingRemux.h"

#include "capture/media/FFPtr.h"

#include <QFile>
#include <QVector>

extern "C" {
#include <libavutil/error.h>
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

QString errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

RecordingRemux::Result failure(const QString &what, int code)
{
    return {false, QString(), QStringLiteral("%1: %2").arg(what, errorText(code))};
}

bool addChapters(AVFormatContext *output, const ChapterList &chapters, qint64 durationMs)
{
    if (chapters.isEmpty())
        return true;
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

} // namespace

namespace RecordingRemux {

Result run(const QString &tsPath, const QString &outStem, const ChapterList &chapters,
           const std::function<void(int)> &progress)
{
    AVFormatContext *rawInput = nullptr;
    int ret = avformat_open_input(&rawInput, tsPath.toUtf8().constData(), nullptr, nullptr);
    if (ret < 0)
        return failure(QStringLiteral("cannot read %1").arg(tsPath), ret);
    FFInputPtr input(rawInput);
    if ((ret = avformat_find_stream_info(input.get(), nullptr)) < 0)
        return failure(QStringLiteral("cannot read the streams of %1").arg(tsPath), ret);

    bool h264 = false;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        h264 = h264 || input->streams[i]->codecpar->codec_id == AV_CODEC_ID_H264;
    const QString path = outStem + (h264 ? ".mp4" : ".mkv");
    const QString partPath = path + ".part";

    AVFormatContext *rawOutput = nullptr;
    ret = avformat_alloc_output_context2(&rawOutput, nullptr, h264 ? "mp4" : "matroska", nullptr);
    if (ret < 0)
        return failure(QStringLiteral("cannot make the output"), ret);
    FFOutputPtr output(rawOutput);

    QVector<int> outIndex(int(input->nb_streams), -1);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters *par = input->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        AVStream *stream = avformat_new_stream(output.get(), nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, par) < 0)
            return failure(QStringLiteral("cannot add a stream"), AVERROR(ENOMEM));
        stream->codecpar->codec_tag = 0;
        stream->time_base = input->streams[i]->time_base;
        stream->avg_frame_rate = input->streams[i]->avg_frame_rate;
        stream->r_frame_rate = input->streams[i]->r_frame_rate;
        stream->avg_frame_rate = input->streams[i]->avg_frame_rate;
        stream->r_frame_rate = input->streams[i]->r_frame_rate;
        outIndex[int(i)] = stream->index;
    }
    const qint64 startUs = input->start_time == AV_NOPTS_VALUE ? 0 : input->start_time;
    const qint64 durationMs = input->duration == AV_NOPTS_VALUE ? 0 : input->duration / 1000;
    if (!addChapters(output.get(), chapters, durationMs))
        return failure(QStringLiteral("cannot add the chapters"), AVERROR(ENOMEM));

    if ((ret = avio_open(&output->pb, partPath.toUtf8().constData(), AVIO_FLAG_WRITE)) < 0)
        return failure(QStringLiteral("cannot write %1").arg(partPath), ret);
    if ((ret = avformat_write_header(output.get(), nullptr)) < 0) {
        QFile::remove(partPath);
        return failure(QStringLiteral("cannot write %1").arg(partPath), ret);
    }

    const int64_t inputSize = avio_size(input->pb);
    FFPacketPtr packet(av_packet_alloc());
    int lastPercent = -1;
    while ((ret = av_read_frame(input.get(), packet.get())) >= 0) {
        const int index = packet->stream_index;
        if (index < 0 || index >= outIndex.size() || outIndex[index] < 0 ||
            packet->pts == AV_NOPTS_VALUE) {
            av_packet_unref(packet.get());
            continue;
        }
        const AVRational inBase = input->streams[index]->time_base;
        const int64_t offset = av_rescale_q(startUs, AV_TIME_BASE_Q, inBase);
        packet->pts -= offset;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= offset;
        packet->pos = -1;
        packet->stream_index = outIndex[index];
        av_packet_rescale_ts(packet.get(), inBase, output->streams[outIndex[index]]->time_base);
        if ((ret = av_interleaved_write_frame(output.get(), packet.get())) < 0) {
            output.reset();
            QFile::remove(partPath);
            return failure(QStringLiteral("cannot write %1").arg(partPath), ret);
        }
        if (progress && inputSize > 0) {
            const int percent = int(100 * avio_tell(input->pb) / inputSize);
            if (percent != lastPercent)
                progress(lastPercent = percent);
        }
    }
    if (ret != AVERROR_EOF) {
        output.reset();
        QFile::remove(partPath);
        return failure(QStringLiteral("cannot read %1").arg(tsPath), ret);
    }
    ret = av_write_trailer(output.get());
    const bool flushed = ret >= 0 && output->pb->error >= 0;
    output.reset();
    if (!flushed) {
        QFile::remove(partPath);
        return failure(QStringLiteral("cannot write %1").arg(partPath),
                       ret < 0 ? ret : AVERROR(EIO));
    }
    QFile::remove(path);
    if (!QFile::rename(partPath, path)) {
        QFile::remove(partPath);
        return {false, QString(), QStringLiteral("cannot name the file %1").arg(path)};
    }
    if (progress)
        progress(100);
    return {true, path, QString()};
}

} // namespace RecordingRemux
