// Capture delay and CPU of the Wayland screen source (portal + PipeWire) beside x11grab: a
// window that turns black or white, on XWayland for the portal (which composes it into the
// headless sway desktop) and for x11grab of XWayland (which sees only its black root window),
// and the same window on a private Xvfb of the same size for x11grab that sees it. The delay
// runs from the moment the X server has drawn a change, made after a still spell, to the moment
// the capture back end hands out the first frame that shows it (both then go through the same
// encoders and writers, so to the ingest port they differ by this much). CPU is this process's
// (back end, PipeWire's thread included), per second of frames while the window changes 60
// times a second; the compositor's and the portal's own work is not in it.
//
// Steadiness: for S seconds the window changes 60 times a second on a clock of its own, as a
// video or a scroll does, and the ticks of the 24 fps grid that got no fresh picture are
// counted. For the portal they are told apart by cause: a tick in whose period the compositor
// delivered no buffer at all (the desktop's), one that passed while the consumer was late (no
// frame carried it), and one where a buffer came and no picture was made of it; beside them what
// the share's PipeWire thread did (buffers per second, the copy, the wait for the consumer, the
// delay from the compositor's timestamp) and the consumer's work per picture.
//
// The CPU comparison is repeated R times (x11grab of Xvfb, then the portal, each time), and the
// median of the ratios is printed.
//
//   tests/support/wayland/wayland-session.sh build/bin/wayland_capture [--changes N] [--steady S]
//       [--repeat R]
#include "capture/media/FFDevice.h"
#include "support/Percentile.h"
#include "support/XPaintWindow.h"
#include "support/XvfbSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <sys/resource.h>
#include <thread>

namespace {

const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QSize output(960, 540);
const QRect windowRect(100, 100, 320, 240);
const QSize screenSize(1280, 720);
// The window's centre in the output picture (1280x720 scaled to 960x540).
const QPoint probe(195, 165);
const QRgb white = qRgb(255, 255, 255);
const QRgb black = qRgb(0, 0, 0);

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

// Content that moves on a clock of its own, as a video or a scroll does: the window turns
// black or white 60 times a second, however the capture keeps up. It has the window to itself
// while it lives. Its own CPU is not the capture's: cpu() says how much it took so far.
class MovingWindow
{
public:
    explicit MovingWindow(XPaintWindow &window)
        : m_thread([this, &window] {
              auto next = std::chrono::steady_clock::now();
              for (int i = 0; !m_stop; ++i) {
                  window.fill(i % 2 ? white : black);
                  m_cpu = cpuOf(RUSAGE_THREAD);
                  next += std::chrono::microseconds(1000000 / 60);
                  std::this_thread::sleep_until(next);
              }
          })
    {}
    ~MovingWindow()
    {
        m_stop = true;
        m_thread.join();
    }
    double cpu() const { return m_cpu; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_cpu{0};
    std::thread m_thread;
};

// What a source captures: the X display whose window it sees, and whether it is the portal.
struct Desktop
{
    QString display;
    bool wayland = false;
};

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
    // Of those, the ticks in whose period the share got no buffer from the compositor, and the
    // ticks the consumer missed altogether (it was busy or not scheduled past their end).
    int ticksWithoutBuffer = 0;
    int ticksWithoutFrame = 0;
    double steadySeconds = 0;
    // The share's PipeWire thread over the steady spell (portal only).
    PipeWireStream::Statistics share;
    // From a picture's tick (or its change) to the frame in hand: the consumer's own work.
    std::vector<double> pictureWorkMs;
};

PipeWireStream::Statistics since(const PipeWireStream::Statistics &now,
                                 const PipeWireStream::Statistics &before)
{
    PipeWireStream::Statistics d = now;
    d.buffers -= before.buffers;
    d.replaced -= before.replaced;
    d.copyUs -= before.copyUs;
    d.delayUs -= before.delayUs;
    d.timed -= before.timed;
    return d;
}

bool showsWhite(const MFFrame &frame)
{
    const AVFrame *p = frame.picture();
    return p && p->data[0][probe.y() * p->linesize[0] + probe.x()] > 128;
}

Result measure(const Desktop &desktop, XPaintWindow &window, int changes, int steadySeconds)
{
    const QByteArray waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    const QByteArray display = qgetenv("DISPLAY");
    if (!desktop.wayland)
        qunsetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", desktop.display.toUtf8());
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
    qputenv("DISPLAY", display);
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
        window.fill(white);
    while (next() && !showsWhite(*frame) && warmUp.elapsed() < 5000);
    result.seesWindow = showsWhite(*frame);
    result.firstPictureMs = warmUp.elapsed();
    {
        // CPU over ten seconds of moving content (by the clock: a change between two ticks
        // comes in a frame of its own, so frames are not time).
        MovingWindow moving(window);
        const double cpuStart = cpuNow() - moving.cpu();
        QElapsedTimer cpuTime;
        cpuTime.start();
        while (cpuTime.elapsed() < 10000 && next()) {
        }
        result.cpuPerSecond =
            (cpuNow() - moving.cpu() - cpuStart) / (double(cpuTime.nsecsElapsed()) / 1e9);
        std::set<int64_t> pictured;
        // The share's buffer count at the last frame of each tick.
        std::map<int64_t, uint64_t> buffersAt;
        int64_t firstTick = -1;
        int64_t lastPictured = -1;
        const PipeWireStream::Statistics shareBefore = device->screenShareStatistics();
        QElapsedTimer steady;
        steady.start();
        while (result.seesWindow && steady.elapsed() < steadySeconds * 1000 && next()) {
            if (firstTick < 0)
                firstTick = frame->tick();
            buffersAt[frame->tick()] = device->screenShareStatistics().buffers;
            if (frame->picture()) {
                pictured.insert(frame->tick());
                lastPictured = frame->tick();
                result.pictureWorkMs.push_back(
                    double(std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count() -
                           frame->tickTimeUs()) /
                    1e3);
            }
        }
        result.steadySeconds = double(steady.nsecsElapsed()) / 1e9;
        result.share = since(device->screenShareStatistics(), shareBefore);
        if (firstTick >= 0) {
            // To the last picture: the ticks after it may have theirs still to come.
            result.steadyTicks = int(lastPictured - firstTick + 1);
            result.ticksWithoutPicture = result.steadyTicks - int(pictured.size());
            uint64_t buffers = buffersAt.begin()->second;
            for (int64_t tick = firstTick + 1; tick <= lastPictured; ++tick) {
                const auto at = buffersAt.find(tick);
                // No frame at all: the consumer came back after the tick had passed.
                if (at == buffersAt.end()) {
                    result.ticksWithoutFrame += pictured.count(tick) ? 0 : 1;
                    continue;
                }
                if (!pictured.count(tick) && at->second == buffers)
                    ++result.ticksWithoutBuffer;
                buffers = at->second;
            }
        }
    }
    for (int i = 0; result.seesWindow && i < changes; ++i) {
        // A still spell first, so that the change does not wait for a picture's turn.
        QElapsedTimer still;
        still.start();
        while (still.elapsed() < 150 && next()) {
        }
        const bool toWhite = i % 2 == 1;
        window.fill(toWhite ? white : black);
        QElapsedTimer since;
        since.start();
        while (next()) {
            if (showsWhite(*frame) == toWhite) {
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

// Why the portal's ticks went without a fresh picture, and what its PipeWire thread did.
void printSteadiness(const Result &r)
{
    const PipeWireStream::Statistics &s = r.share;
    if (r.steadyTicks <= 0 || r.steadySeconds <= 0)
        return;
    std::printf("  steady portal: %.1f buffers/s from the compositor (%llu replaced unread); "
                "ticks without picture %d of %d: %d with no buffer in their period (desktop), "
                "%d passed while the consumer was late, %d with a buffer and no picture\n",
                double(s.buffers) / r.steadySeconds, (unsigned long long)s.replaced,
                r.ticksWithoutPicture, r.steadyTicks, r.ticksWithoutBuffer, r.ticksWithoutFrame,
                r.ticksWithoutPicture - r.ticksWithoutBuffer - r.ticksWithoutFrame);
    const double buffers = s.buffers > s.replaced ? double(s.buffers - s.replaced) : 1.0;
    std::printf("  PipeWire thread: copy %.2f ms mean, %.2f max; longest wait for the consumer "
                "%.2f ms; compositor to thread %.2f ms mean, %.2f max (%llu timed); consumer's "
                "work per picture p50 %.2f ms, p99 %.2f, max %.2f\n",
                double(s.copyUs) / 1e3 / buffers, double(s.longestCopyUs) / 1e3,
                double(s.longestLockWaitUs) / 1e3,
                s.timed ? double(s.delayUs) / 1e3 / double(s.timed) : 0.0,
                double(s.longestDelayUs) / 1e3, (unsigned long long)s.timed,
                percentile(r.pictureWorkMs, 0.5), percentile(r.pictureWorkMs, 0.99),
                percentile(r.pictureWorkMs, 1.0));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int changes = 60;
    int steadySeconds = 20;
    int repeats = 1;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--changes")
            changes = args[i + 1].toInt();
        else if (args[i] == "--steady")
            steadySeconds = args[i + 1].toInt();
        else if (args[i] == "--repeat")
            repeats = std::max(1, args[i + 1].toInt());
    }
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "run inside tests/support/wayland/wayland-session.sh\n");
        return 2;
    }
    XPaintWindow window;
    XvfbSession xvfb;
    XPaintWindow xvfbWindow;
    QString error;
    if (!window.open(qEnvironmentVariable("DISPLAY"), windowRect, &error) ||
        !xvfb.start(screenSize, &error) || !xvfbWindow.open(xvfb.display(), windowRect, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("wayland_capture: %d changes of a window on headless sway 1280x720 (XWayland) "
                "and on Xvfb 1280x720, frames %dx%d at 24 fps\n",
                changes, output.width(), output.height());
    std::printf("steady: %d s of the window changing 60 times a second; ticks on the 24 fps grid, "
                "and the share of them without a fresh picture\n",
                steadySeconds);
    std::printf("%-22s %8s %8s %8s %10s %7s %7s %9s %7s %8s\n", "source", "p50 ms", "p95 ms",
                "max ms", "CPU s/s", "seen", "missed", "first ms", "ticks", "none %");
    const Result xwayland =
        measure({qEnvironmentVariable("DISPLAY"), false}, window, changes, steadySeconds);
    print("x11grab (XWayland)", xwayland);
    std::vector<double> cpuRatios;
    Result portal;
    for (int round = 0; round < repeats; ++round) {
        const Result x11 = measure({xvfb.display(), false}, xvfbWindow, changes, steadySeconds);
        print("x11grab (Xvfb)", x11);
        portal = measure({qEnvironmentVariable("DISPLAY"), true}, window, changes, steadySeconds);
        print("portal + PipeWire", portal);
        printSteadiness(portal);
        if (x11.cpuPerSecond > 0) {
            cpuRatios.push_back(portal.cpuPerSecond / x11.cpuPerSecond);
            std::printf(
                "portal / x11grab (Xvfb), same window, same run: CPU %.2f, delay p50 %+.1f ms\n",
                cpuRatios.back(), percentile(portal.delaysMs, 0.5) - percentile(x11.delaysMs, 0.5));
        }
    }
    if (cpuRatios.size() > 1) {
        std::printf("CPU portal / x11grab (Xvfb) over %d rounds: median %.2f (",
                    int(cpuRatios.size()), percentile(cpuRatios, 0.5));
        for (double ratio : cpuRatios)
            std::printf(" %.2f", ratio);
        std::printf(" )\n");
    }
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
