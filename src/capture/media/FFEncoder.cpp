#include "capture/media/FFEncoder.h"

#include "capture/media/FFLog.h"

FFCodecPtr openEncoder(const QByteArray &codecName, const FFOptionList &options,
                       const std::function<void(AVCodecContext *)> &configure, QString *error)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(codecName.constData());
    if (!codec) {
        *error = QStringLiteral("no encoder named %1").arg(QString::fromUtf8(codecName));
        return nullptr;
    }
    FFCodecPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        *error = ffErrorText(AVERROR(ENOMEM));
        return nullptr;
    }
    configure(context.get());
    FFDict dict;
    for (const auto &option : options)
        dict.set(option.first.constData(), option.second.constData());
    const int ret = avcodec_open2(context.get(), codec, dict.get());
    if (ret < 0) {
        *error = QStringLiteral("%1: %2").arg(QString::fromUtf8(codecName), ffErrorText(ret));
        return nullptr;
    }
    if (const AVDictionaryEntry *unused =
            av_dict_get(dict.peek(), "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
        *error = QStringLiteral("%1: unknown option %2")
                     .arg(QString::fromUtf8(codecName), QString::fromUtf8(unused->key));
        return nullptr;
    }
    return context;
}

int drainEncoder(AVCodecContext *encoder, const PacketSink &sink)
{
    FFPacketPtr packet(av_packet_alloc());
    if (!packet)
        return AVERROR(ENOMEM);
    for (;;) {
        const int ret = avcodec_receive_packet(encoder, packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return ret;
        sink(packet.get());
        av_packet_unref(packet.get());
    }
}
