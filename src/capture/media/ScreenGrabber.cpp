#include "capture/media/ScreenGrabber.h"

#include "capture/media/FFLog.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace {

// Beyond a quarter of the area, the socket's copy of a part costs more than the whole picture
// through shared memory.
constexpr int partialShare = 4;

struct ReplyFree
{
    void operator()(xcb_get_image_reply_t *reply) const { std::free(reply); }
};

} // namespace

ScreenGrabber::ScreenGrabber() : m_picture(av_packet_alloc()) {}

ScreenGrabber::~ScreenGrabber()
{
    m_picture.reset();
    m_input.reset();
    if (m_watch)
        xcb_disconnect(m_watch);
}

bool ScreenGrabber::open(const QByteArray &display, const ScreenRegion &region, QString *error)
{
    av_packet_unref(m_picture.get());
    m_input.reset();
    if (m_watch)
        xcb_disconnect(m_watch);
    int screenNumber = 0;
    m_watch = xcb_connect(display.constData(), &screenNumber);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_watch));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_root = screens.rem ? screens.data->root : 0;
    m_region = region;
    m_partialGrabs = 0;
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

int ScreenGrabber::grab(const QRect &changed)
{
    if (serverGone())
        return AVERROR(EIO);
    const QRect part = changed & QRect(0, 0, width(), height());
    // A pointer drawn into the kept picture would stay behind where a part is grabbed anew.
    const bool small = !part.isEmpty() && int64_t(part.width()) * part.height() * partialShare <=
                                              int64_t(width()) * height();
    if (small && !m_region.drawMouse && m_picture->buf && m_root &&
        av_buffer_is_writable(m_picture->buf) && grabPart(part))
        return 0;
    av_packet_unref(m_picture.get());
    return av_read_frame(m_input.get(), m_picture.get());
}

bool ScreenGrabber::grabPart(const QRect &part)
{
    const QPoint at = m_region.rect.topLeft() + part.topLeft();
    std::unique_ptr<xcb_get_image_reply_t, ReplyFree> reply(xcb_get_image_reply(
        m_watch,
        xcb_get_image(m_watch, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(at.x()), int16_t(at.y()),
                      uint16_t(part.width()), uint16_t(part.height()), ~0u),
        nullptr));
    if (!reply)
        return false;
    const int bytesPerPixel = linesize() / width();
    const size_t row = size_t(part.width()) * size_t(bytesPerPixel);
    // Another layout than x11grab's (a server with another pixel size) is grabbed whole.
    if (xcb_get_image_data_length(reply.get()) != int(row) * part.height())
        return false;
    const uint8_t *from = xcb_get_image_data(reply.get());
    uint8_t *into = m_picture->data + size_t(part.y()) * size_t(linesize()) +
                    size_t(part.x()) * size_t(bytesPerPixel);
    for (int y = 0; y < part.height(); ++y, from += row, into += linesize())
        std::memcpy(into, from, row);
    ++m_partialGrabs;
    return true;
}

int ScreenGrabber::linesize() const
{
    return height() > 0 ? m_picture->size / height() : 0;
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
