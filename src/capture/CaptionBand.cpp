#include "capture/CaptionBand.h"

#include "capture/media/MFFrame.h"

#include <QDebug>
#include <QFont>
#include <QPainter>

#include <algorithm>

namespace {

// A caption is read in a glance: what goes past this would not fit the band anyway.
constexpr int kMaxCaptionChars = 240;

uint8_t clampByte(double value)
{
    return uint8_t(std::clamp(int(value + 0.5), 0, 255));
}

// Planar YUV 4:2:0 of the same size and format, with the same content and timing.
FFFramePtr copyOf(const AVFrame &picture)
{
    FFFramePtr copy(av_frame_alloc());
    if (!copy)
        return nullptr;
    copy->format = picture.format;
    copy->width = picture.width;
    copy->height = picture.height;
    if (av_frame_get_buffer(copy.get(), 0) < 0 || av_frame_copy(copy.get(), &picture) < 0 ||
        av_frame_copy_props(copy.get(), &picture) < 0)
        return nullptr;
    return copy;
}

void blend(uint8_t *row, const uint8_t *band, const uint8_t *alpha, int width)
{
    for (int x = 0; x < width; ++x)
        row[x] = uint8_t((band[x] * alpha[x] + row[x] * (255 - alpha[x]) + 127) / 255);
}

} // namespace

void CaptionBand::setText(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (text == m_text)
        return;
    m_text = text;
    ++m_generation;
}

MFFramePtr CaptionBand::apply(const MFFramePtr &frame)
{
    QString text;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        text = m_text;
        generation = m_generation;
    }
    if (frame->picture()) {
        m_lastPictured = frame;
        m_lastPictureTick = frame->tick();
        m_drawnGeneration = generation;
        if (text.isEmpty())
            return frame;
    } else if (generation == m_drawnGeneration || !m_lastPictured ||
               frame->tick() <= m_lastPictureTick) {
        // Pictures have growing ticks: a band that changed on a still screen waits for a tick
        // past the last picture's.
        return frame;
    }
    const AVFrame &picture = *m_lastPictured->picture();
    FFFramePtr out = text.isEmpty() ? copyOf(picture) : drawn(picture, text);
    if (!out)
        return frame;
    m_drawnGeneration = generation;
    m_lastPictureTick = frame->tick();
    return std::make_shared<MFFrame>(frame->format(), frame->tick(), frame->tickTimeUs(),
                                     std::move(out), frame->audio(), frame->trouble(),
                                     frame->picture() ? frame->settled() : true);
}

FFFramePtr CaptionBand::drawn(const AVFrame &picture, const QString &text)
{
    FFFramePtr out = copyOf(picture);
    if (!out || out->format != AV_PIX_FMT_YUV420P)
        return out;
    if (text != m_drawnText || m_band.width != out->width ||
        m_band.height != (int(out->height * kBandShare) & ~1))
        render(text, out->width, out->height);
    const int top = out->height - m_band.height;
    for (int row = 0; row < m_band.height; ++row)
        blend(out->data[0] + (top + row) * out->linesize[0],
              m_band.y.constData() + row * m_band.width,
              m_band.alpha.constData() + row * m_band.width, m_band.width);
    const int chromaWidth = m_band.width / 2;
    for (int row = 0; row < m_band.height / 2; ++row) {
        const uint8_t *alpha = m_band.chromaAlpha.constData() + row * chromaWidth;
        blend(out->data[1] + (top / 2 + row) * out->linesize[1],
              m_band.u.constData() + row * chromaWidth, alpha, chromaWidth);
        blend(out->data[2] + (top / 2 + row) * out->linesize[2],
              m_band.v.constData() + row * chromaWidth, alpha, chromaWidth);
    }
    return out;
}

void CaptionBand::render(const QString &text, int width, int height)
{
    const int bandHeight = int(height * kBandShare) & ~1;
    QImage image(width, bandHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(12, 16, 28, kBandOpacity));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        QFont font = painter.font();
        font.setPixelSize(std::max(6, bandHeight / (kMaxLines + 1)));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        const int margin = bandHeight / 6;
        const QString shown =
            text.size() > kMaxCaptionChars ? text.left(kMaxCaptionChars) + QChar(0x2026) : text;
        // drawText() takes the string as plain text, whatever markup it holds.
        painter.drawText(image.rect().adjusted(margin * 2, margin, -margin * 2, -margin),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, shown);
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    m_band.width = width;
    m_band.height = bandHeight;
    m_band.y.resize(width * bandHeight);
    m_band.alpha.resize(width * bandHeight);
    const int chromaWidth = width / 2;
    m_band.u.resize(chromaWidth * (bandHeight / 2));
    m_band.v.resize(m_band.u.size());
    m_band.chromaAlpha.resize(m_band.u.size());
    for (int row = 0; row < bandHeight; ++row) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(row));
        for (int x = 0; x < width; ++x) {
            const QRgb p = line[x];
            m_band.y[row * width + x] =
                clampByte(16 + (65.481 * qRed(p) + 128.553 * qGreen(p) + 24.966 * qBlue(p)) / 255);
            m_band.alpha[row * width + x] = uint8_t(qAlpha(p));
        }
    }
    // Chroma and its opacity over each 2x2 block.
    for (int row = 0; row < bandHeight / 2; ++row) {
        for (int x = 0; x < chromaWidth; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int dy = 0; dy < 2; ++dy) {
                const auto *line =
                    reinterpret_cast<const QRgb *>(image.constScanLine(row * 2 + dy));
                for (int dx = 0; dx < 2; ++dx) {
                    const QRgb p = line[x * 2 + dx];
                    r += qRed(p) / 4.0;
                    g += qGreen(p) / 4.0;
                    b += qBlue(p) / 4.0;
                    a += qAlpha(p) / 4.0;
                }
            }
            const int at = row * chromaWidth + x;
            m_band.u[at] = clampByte(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
            m_band.v[at] = clampByte(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
            m_band.chromaAlpha[at] = clampByte(a);
        }
    }
    m_drawnText = text;
}
