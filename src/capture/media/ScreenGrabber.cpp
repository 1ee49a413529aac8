#include "capture/media/ScreenGrabber.h"

#include "capture/media/FFLog.h"

#include <cstdlib>
#include <xcb/xcb.h>

extern "C" {
#include <libavdevice/avdevice.h>
}

ScreenGrabber::~ScreenGrabber()
{
    if (m_watch)
        xcb_disconnect(m_watch);
}

bool ScreenGrabber::open(const QByteArray &display, const ScreenRegion &region, QString *error)
{
    m_input.reset();
    if (m_watch)
        xcb_disconnect(m_watch);
    m_watch = xcb_connect(display.constData(), nullptr);
    const AVInputFormat *format = av_find_input_format("x11grab");
    if (!format) {
        *error = QStringLiteral("x11grab is not available");
        return false;
    }
    FFDict options;
    options.set("video_size", QStringLiteral("%1x%2")
                                  .arg(region.rect.width())
                                  .arg(region.rect.height())
                                  .toUtf8()
                                  .constData());
    options.set("grab_x", region.rect.x());
    options.set("grab_y", region.rect.y());
    options.set("draw_mouse", region.drawMouse ? 1 : 0);
    // The frame clock paces the grabs; a rate far above it keeps x11grab from sleeping.
    options.set("framerate", "1000");
    AVFormatContext *ctx = nullptr;
    const int ret = avformat_open_input(&ctx, display.constData(), format, options.get());
    if (ret < 0) {
        *error = QStringLiteral("x11grab %1: %2").arg(QString::fromUtf8(display), ffErrorText(ret));
        return false;
    }
    m_input.reset(ctx);
    return true;
}

bool ScreenGrabber::serverGone()
{
    // Non-blocking: reads whatever the server sent, which at its end is the end of the stream.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_watch))
        free(event);
    return xcb_connection_has_error(m_watch) != 0;
}

int ScreenGrabber::grab(AVPacket *packet)
{
    if (serverGone())
        return AVERROR(EIO);
    return av_read_frame(m_input.get(), packet);
}

int ScreenGrabber::width() const
{
    return m_input->streams[0]->codecpar->width;
}

int ScreenGrabber::height() const
{
    return m_input->streams[0]->codecpar->height;
}

AVPixelFormat ScreenGrabber::pixelFormat() const
{
    return AVPixelFormat(m_input->streams[0]->codecpar->format);
}
