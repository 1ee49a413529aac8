#include "ScreenClip.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>

namespace {

constexpr int slideFrames = 48;
constexpr int stillCodeFrames = 48;
constexpr int scrollPixelsPerFrame = 15;
constexpr int indexBits = 8;
constexpr int blockSize = 48;
const char fontDir[] = "/usr/share/fonts/truetype/dejavu/";

// One still picture of `size`, typeset by ffmpeg with `filters` on a plain background.
QImage typeset(const QSize &size, const QString &background, const QString &filters, QString *error)
{
    QProcess ffmpeg;
    ffmpeg.start(
        QStringLiteral("ffmpeg"),
        {"-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
         QStringLiteral("color=c=%1:s=%2x%3").arg(background).arg(size.width()).arg(size.height()),
         "-vf", filters, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        *error = QStringLiteral("ffmpeg could not typeset the clip: ") +
                 QString::fromLocal8Bit(ffmpeg.readAllStandardError());
        return {};
    }
    const QByteArray data = ffmpeg.readAllStandardOutput();
    if (data.size() != bytes) {
        *error = QStringLiteral("ffmpeg gave %1 bytes for a %2x%3 page")
                     .arg(data.size())
                     .arg(size.width())
                     .arg(size.height());
        return {};
    }
    QImage image(size, QImage::Format_RGB32);
    for (int row = 0; row < size.height(); ++row)
        memcpy(image.scanLine(row), data.constData() + qint64(row) * size.width() * 4,
               size_t(size.width()) * 4);
    return image;
}

QString text(const QString &file, const QString &font, int points, const QString &colour, int x,
             int y)
{
    return QStringLiteral("drawtext=fontfile=%1%2:textfile=%3:expansion=none:fontsize=%4:"
                          "fontcolor=%5:x=%6:y=%7:line_spacing=8")
        .arg(QLatin1String(fontDir), font, file)
        .arg(points)
        .arg(colour)
        .arg(x)
        .arg(y);
}

} // namespace

const QSize ScreenClip::size(1920, 1080);

bool ScreenClip::load(const QString &codeFile, QString *error)
{
    QTemporaryDir dir;
    QFile slideText(dir.filePath(QStringLiteral("slide.txt")));
    if (!dir.isValid() || !slideText.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("no temporary file for the slide's text");
        return false;
    }
    slideText.write("Quarterly figures\n\n"
                    "- Viewers per session rose by a third\n"
                    "- Median delay stayed under a quarter second\n"
                    "- Small text must stay readable at 512 kbit/s\n"
                    "- Code walkthroughs scroll: keep the scroll sharp\n\n"
                    "   Q1        Q2        Q3        Q4\n");
    slideText.close();
    QString chart;
    const int bars[] = {220, 310, 270, 420};
    for (int i = 0; i < 4; ++i)
        chart += QStringLiteral(",drawbox=x=%1:y=%2:w=120:h=%3:color=0xf0a030:t=fill")
                     .arg(1300 + i * 150)
                     .arg(960 - bars[i])
                     .arg(bars[i]);
    m_slide = typeset(size, QStringLiteral("0x1c3354"),
                      text(slideText.fileName(), QStringLiteral("DejaVuSans.ttf"), 44,
                           QStringLiteral("white"), 120, 140) +
                          chart,
                      error);
    const QSize codeSize(size.width(),
                         size.height() +
                             (frameCount - slideFrames - stillCodeFrames) * scrollPixelsPerFrame);
    m_code = m_slide.isNull() ? QImage()
                              : typeset(codeSize, QStringLiteral("0xfdfdf6"),
                                        text(codeFile, QStringLiteral("DejaVuSansMono.ttf"), 20,
                                             QStringLiteral("0x202428"), 60, indexRows + 16),
                                        error);
    return !m_code.isNull();
}

QImage ScreenClip::frame(int index) const
{
    QImage image;
    if (index < slideFrames)
        image = m_slide.copy();
    else
        image = m_code.copy(
            0, std::max(0, index - slideFrames - stillCodeFrames) * scrollPixelsPerFrame,
            size.width(), size.height());
    for (int row = 0; row < indexRows; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int x = 0; x < size.width(); ++x) {
            const int bit = x / blockSize;
            const bool white = row < blockSize && bit < indexBits && ((index >> bit) & 1);
            line[x] = white ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        }
    }
    return image;
}

int ScreenClip::indexOf(const QImage &picture)
{
    int index = 0;
    const int y = blockSize / 2 * picture.height() / size.height();
    for (int bit = 0; bit < indexBits; ++bit) {
        const int x = (bit * blockSize + blockSize / 2) * picture.width() / size.width();
        const int grey = qGray(picture.pixel(x, y));
        // Grey is neither: a picture blended between two frames.
        if (grey > 64 && grey < 192)
            return -1;
        index |= int(grey >= 192) << bit;
    }
    return index < frameCount ? index : -1;
}

bool ScreenClip::play(const QString &display, QString *error, Play how)
{
    if (!m_window.open(display, QRect(QPoint(0, 0), size), error))
        return false;
    m_how = how;
    m_stop = false;
    m_thread = std::thread(&ScreenClip::run, this);
    return true;
}

void ScreenClip::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ScreenClip::run()
{
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / 24);
    const Clock::time_point start = Clock::now();
    int shown = -1;
    while (!m_stop) {
        // A late paint skips frames rather than slowing the clip down.
        const auto step = (Clock::now() - start) / period;
        const int index = frameAt(step);
        // A frame held still is painted once: a repaint would be a change to the X server.
        if (index != shown)
            m_window.paint(frame(index));
        shown = index;
        std::this_thread::sleep_until(start + (step + 1) * period);
    }
}

int ScreenClip::frameAt(qint64 step) const
{
    if (m_how == Play::Loop)
        return int(step % frameCount);
    const int inCycle = int(step % (settleMotionFrames + settleStillFrames));
    return inCycle < settleMotionFrames ? settleMotionFirst + inCycle : settleStillFrame;
}
