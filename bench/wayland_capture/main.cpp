// Capture delay and CPU of the Wayland screen source (portal + PipeWire) beside x11grab, on
// the same headless sway desktop: an XWayland window that turns black or white, so that both
// see it. The delay runs from the moment the X server has drawn the change to the moment the
// capture back end hands out the first frame that shows it (both then go through the same
// encoders and writers, so to the ingest port they differ by this much). CPU is this process's
// (back end, PipeWire's thread included), per second of frames; the compositor's and the
// portal's own work is not in it.
//
// Steadiness: for S seconds the window changes at every frame taken, and the ticks of the
// 24 fps grid that got no fresh picture are counted.
//
//   tests/support/wayland/wayland-session.sh build/bin/wayland_capture [--changes N] [--steady S]
#include "capture/media/FFDevice.h"
#include "support/Percentile.h"
#include "support/XPaintWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>
#include <set>
#include <sys/resource.h>

namespace {

const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QSize output(960, 540);
const QRect windowRect(100, 100, 320, 240);
// The window's centre in the output picture (1280x720 scaled to 960x540).
const QPoint probe(195, 165);

double cpuOf(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double cpuNow()
{
    return cpuOf(RUSAGE_SELF);
}

// The ffmpeg tool doing the capture part of the same job on the same desktop: x11grab of the
// XWayland screen at 24 fps, scaled to the same size and format, thrown away. Its start-up is
// in the figure. Zero when it does not run.
double ffmpegCpuPerSecond(int seconds)
{
    QProcess ffmpeg;
    const double before = cpuOf(RUSAGE_CHILDREN);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-nostdin",
                  "-hide_banner",
                  "-loglevel",
                  "error",
                  "-f",
                  "x11grab",
                  "-framerate",
                  "24",
                  "-draw_mouse",
                  "0",
                  "-i",
                  qEnvironmentVariable("DISPLAY"),
                  "-t",
                  QString::number(seconds),
                  "-vf",
                  QStringLiteral("scale=%1:%2").arg(output.width()).arg(output.height()),
                  "-pix_fmt",
                  "yuv420p",
                  "-f",
                  "null",
                  "-"});
    if (!ffmpeg.waitForFinished((seconds + 30) * 1000) || ffmpeg.exitCode() != 0)
        return 0;
    return (cpuOf(RUSAGE_CHILDREN) - before) / seconds;
}

struct Result
{
    std::vector<double> delaysMs;
    double cpuPerSecond = 0;
    bool seesWindow = false;
    // From the source's creation (the portal's handshake included) to the first frame showing
    // the window.
    qint64 firstPictureMs = 0;
    int missed = 0; // changes never seen within 2 s
    int steadyTicks = 0;
    int ticksWithoutPicture = 0;
};

bool showsWhite(const MFFrame &frame)
{
    const AVFrame *p = frame.picture();
    return p && p->data[0][probe.y() * p->linesize[0] + probe.x()] > 128;
}

Result measure(bool wayland, XPaintWindow &window, int changes, int steadySeconds)
{
    const QByteArray waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    if (!wayland)
        qunsetenv("WAYLAND_DISPLAY");
    auto device = std::make_shared<FFDevice>();
    int count = 0;
    device->DeviceGetCount(eMFDT_Video, &count);
    for (int i = 0; i < count; ++i) {
        QString name;
        device->DeviceGetByIndex(eMFDT_Video, i, &name, nullptr);
        if (name == screenDevice)
            device->DeviceSet(eMFDT_Video, i, QString());
    }
    qputenv("WAYLAND_DISPLAY", waylandDisplay);
    device->PropsSet("capture.highlight_mouse", "hide");
    device->PropsSet("capture.screen_index", "0");
    device->PropsSet("capture.frame_size", "screen");
    device->PropsSet("capture.aspect_ratio", "keep");
    MFAVProps format;
    format.video = {output.width(), output.height(), 24.0};
    MFFramePtr frame;
    auto next = [&] {
        return !mfFailed(device->SourceFrameConvertedGet(format, -1, &frame, {}));
    };

    Result result;
    // Until the source delivers what is on the screen (x11grab never does: XWayland's root
    // window is black).
    QElapsedTimer warmUp;
    warmUp.start();
    do
        window.fill(qRgb(255, 255, 255));
    while (next() && !showsWhite(*frame) && warmUp.elapsed() < 5000);
    result.seesWindow = showsWhite(*frame);
    result.firstPictureMs = warmUp.elapsed();
    // CPU over ten seconds of frames while the window changes at every one.
    const int cpuFrames = 240;
    const double cpuStart = cpuNow();
    for (int i = 0; i < cpuFrames && next(); ++i)
        window.fill(i % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    result.cpuPerSecond = (cpuNow() - cpuStart) / (cpuFrames / 24.0);
    std::set<int64_t> pictured;
    int64_t firstTick = -1;
    QElapsedTimer steady;
    steady.start();
    for (int i = 0; result.seesWindow && steady.elapsed() < steadySeconds * 1000 && next(); ++i) {
        window.fill(i % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        if (firstTick < 0)
            firstTick = frame->tick();
        if (frame->picture())
            pictured.insert(frame->tick());
    }
    if (firstTick >= 0) {
        result.steadyTicks = int(frame->tick() - firstTick + 1);
        result.ticksWithoutPicture = result.steadyTicks - int(pictured.size());
    }
    for (int i = 0; result.seesWindow && i < changes; ++i) {
        const bool white = i % 2 == 1;
        window.fill(white ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        QElapsedTimer since;
        since.start();
        while (next()) {
            if (showsWhite(*frame) == white) {
                result.delaysMs.push_back(since.nsecsElapsed() / 1e6);
                break;
            }
            if (since.elapsed() > 2000) {
                ++result.missed;
                break;
            }
        }
    }
    return result;
}

void print(const char *name, const Result &r)
{
    if (!r.seesWindow) {
        std::printf("%-22s %8s %8s %8s %10.3f   (never shows the window: black)\n", name, "-", "-",
                    "-", r.cpuPerSecond);
        return;
    }
    std::printf("%-22s %8.1f %8.1f %8.1f %10.3f %7d %7d %9lld %7d %8.2f\n", name,
                percentile(r.delaysMs, 0.5), percentile(r.delaysMs, 0.95),
                percentile(r.delaysMs, 1.0), r.cpuPerSecond, int(r.delaysMs.size()), r.missed,
                r.firstPictureMs, r.steadyTicks,
                r.steadyTicks > 0 ? 100.0 * r.ticksWithoutPicture / r.steadyTicks : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int changes = 60;
    int steadySeconds = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--changes")
            changes = args[i + 1].toInt();
        else if (args[i] == "--steady")
            steadySeconds = args[i + 1].toInt();
    }
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "run inside tests/support/wayland/wayland-session.sh\n");
        return 2;
    }
    XPaintWindow window;
    QString error;
    if (!window.open(qEnvironmentVariable("DISPLAY"), windowRect, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("wayland_capture: %d changes of an XWayland window on headless sway 1280x720, "
                "frames %dx%d at 24 fps\n",
                changes, output.width(), output.height());
    std::printf("steady: %d s of a change at every frame; ticks on the 24 fps grid, and the share "
                "of them without a fresh picture\n",
                steadySeconds);
    std::printf("%-22s %8s %8s %8s %10s %7s %7s %9s %7s %8s\n", "source", "p50 ms", "p95 ms",
                "max ms", "CPU s/s", "seen", "missed", "first ms", "ticks", "none %");
    const Result x11 = measure(false, window, changes, steadySeconds);
    print("x11grab (XWayland)", x11);
    const Result portal = measure(true, window, changes, steadySeconds);
    print("portal + PipeWire", portal);
    // The studio's x11grab follows the X server's damage, which XWayland's black root window
    // hardly has: the tool grabbing at every frame is the fair measure.
    const double tool = ffmpegCpuPerSecond(10);
    std::printf("ffmpeg tool, x11grab at 24 fps scaled to %dx%d: %.3f CPU-s per s\n",
                output.width(), output.height(), tool);
    if (tool > 0)
        std::printf("CPU of the portal source / the tool's, same size, same run: %.2f\n",
                    portal.cpuPerSecond / tool);
    return 0;
}
