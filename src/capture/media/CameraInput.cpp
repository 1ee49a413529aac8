#include "capture/media/CameraInput.h"

#include <QDebug>

CameraInput::CameraInput(const QByteArray &url) : m_url(url)
{
    m_input = std::make_unique<LiveInput>(
        "video4linux2", url, FFOptionList{},
        [this](const AVStream *stream, AVPacket *packet) { decode(stream, packet); });
}

FFFramePtr CameraInput::latest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_latest)
        return nullptr;
    FFFramePtr copy(av_frame_alloc());
    if (copy && av_frame_ref(copy.get(), m_latest.get()) < 0)
        copy.reset();
    return copy;
}

QString CameraInput::trouble() const
{
    if (m_noDecoder)
        return QStringLiteral("picture format without a decoder");
    return m_input->trouble();
}

void CameraInput::decode(const AVStream *stream, const AVPacket *packet)
{
    const AVCodecParameters *par = stream->codecpar;
    if (!m_decoder || m_decoder->codec_id != par->codec_id || m_decoder->width != par->width ||
        m_decoder->height != par->height) {
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        m_decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), par) < 0 ||
            avcodec_open2(m_decoder.get(), codec, nullptr) < 0) {
            qWarning() << "camera" << m_url << "delivers a format without a decoder";
            m_decoder.reset();
            m_noDecoder = true;
            return;
        }
        m_noDecoder = false;
    }
    if (avcodec_send_packet(m_decoder.get(), packet) < 0)
        return;
    FFFramePtr picture(av_frame_alloc());
    while (picture && avcodec_receive_frame(m_decoder.get(), picture.get()) >= 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_latest = std::move(picture);
        picture.reset(av_frame_alloc());
    }
}
