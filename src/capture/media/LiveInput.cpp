#include "capture/media/LiveInput.h"

#include "capture/media/FFLog.h"

#include <QDebug>

extern "C" {
#include <libavdevice/avdevice.h>
}

LiveInput::LiveInput(QByteArray format, QByteArray url, FFOptionList options, PacketHandler handler)
    : m_format(std::move(format)), m_url(std::move(url)), m_options(std::move(options)),
      m_handler(std::move(handler))
{
    ffInit();
    m_thread = std::thread(&LiveInput::run, this);
}

LiveInput::~LiveInput()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

int LiveInput::interrupted(void *self)
{
    return static_cast<LiveInput *>(self)->m_stop ? 1 : 0;
}

bool LiveInput::pause()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stop.load(); });
}

QString LiveInput::trouble() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trouble;
}

void LiveInput::setTrouble(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trouble = text;
}

FFInputPtr LiveInput::open(QString *error)
{
    const AVInputFormat *format = av_find_input_format(m_format.constData());
    if (!format) {
        *error = QStringLiteral("input %1 is not available").arg(QString::fromUtf8(m_format));
        return nullptr;
    }
    AVFormatContext *ctx = avformat_alloc_context();
    if (!ctx) {
        *error = ffErrorText(AVERROR(ENOMEM));
        return nullptr;
    }
    ctx->interrupt_callback = AVIOInterruptCB{&LiveInput::interrupted, this};
    FFDict options;
    for (const auto &option : m_options)
        options.set(option.first.constData(), option.second.constData());
    const int ret = avformat_open_input(&ctx, m_url.constData(), format, options.get());
    if (ret < 0) {
        *error = ffErrorText(ret);
        return nullptr;
    }
    return FFInputPtr(ctx);
}

void LiveInput::run()
{
    const QString label = QString::fromUtf8(m_format + " " + m_url);
    bool failing = false;
    FFPacketPtr packet(av_packet_alloc());
    while (!m_stop && packet) {
        QString error;
        FFInputPtr input = open(&error);
        if (!input) {
            if (!failing)
                qWarning().noquote() << "capture input" << label << "unavailable:" << error;
            failing = true;
            setTrouble(error);
            if (!pause())
                break;
            continue;
        }
        if (failing)
            qInfo().noquote() << "capture input" << label << "is back";
        failing = false;
        setTrouble(QString());
        int ret = 0;
        while (!m_stop && (ret = av_read_frame(input.get(), packet.get())) >= 0) {
            m_handler(input->streams[packet->stream_index], packet.get());
            av_packet_unref(packet.get());
        }
        if (m_stop)
            break;
        qWarning().noquote() << "capture input" << label << "lost:" << ffErrorText(ret);
        failing = true;
        setTrouble(ffErrorText(ret));
        input.reset();
        if (!pause())
            break;
    }
}
