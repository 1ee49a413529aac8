// Capture and encoding cost of the studio's back end against the ffmpeg command-line tool doing
// the same job (X11 screen capture, scaling, MPEG-1 or H.264 video and MP2 audio in two
// transport streams sent over TCP), on a private Xvfb screen with moving content; and the delay
// from a change on the screen to the first transport-stream packet of the picture that shows it.
//
//   capture_encode [--seconds N] [--still]     (30 by default; eight runs of N seconds)
//   capture_encode --scenarios [--seconds N] [--still]   (6 by default; 24 runs of N seconds)
//   capture_encode --quality [--seconds N]     (12 by default; twelve runs of N seconds)
//   capture_encode --settle [--seconds N]      (16 by default; four runs of N seconds)
//
// --still leaves the moving content out: a still slide on which only the marker changes.
// --scenarios plays what a talk's screen does (ScreenScenario: a still slide, a slide change
// every 10 s, typing, a scrolling page, full-screen motion) with the marker changing once a
// second, MPEG-1 at the "1 Mbs" preset at 540p and 1080p, each run beside the ffmpeg tool's;
// the still slide with sound and without (--still: those rows alone).
// --quality plays a screen-content clip (ScreenClip) full screen instead and scores the
// studio's own pictures against it, for both codecs at the presets presenters pick, captured
// as the screen changes and on the clock (an X server without DAMAGE).
// --settle plays the clip to settle (two seconds of scroll, then a still code page) at FullHD
// "1 Mbs" in both codecs, both captures, and scores the still page as viewers see it 0.2, 0.5,
// 1 and 2 s after the motion stopped.
#include "ChangeMarker.h"
#include "DelayAnalysis.h"
#include "PictureQuality.h"
#include "ScreenClip.h"
#include "ScreenScenario.h"
#include "TickRecordingFactory.h"

#include "capture/CaptureStreamer.h"
#include "support/ChildProcess.h"
#include "support/IngestCollector.h"
#include "support/MovingContent.h"
#include "support/Percentile.h"
#include "support/PulseSession.h"
#include "support/TsDemux.h"
#include "support/XvfbSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

const QSize screenSize(1920, 1080);
const QRect markerRect(1760, 40, 128, 128);
const QString studioMonitor = QStringLiteral("Monitor of Studio");
const QString screenDevice = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");

// Seconds after the motion stopped at which --settle scores the still page.
const QVector<double> settleTimes{0.2, 0.5, 1.0, 2.0};

struct Job
{
    QSize size;
    int totalKbps; // what the presenter picks
    VideoCodec codec;
    bool sound = true; // MP2 from the null sink's monitor beside the video, in both tools
    // The controller takes the 64 kbit/s of audio out below 5000.
    int videoKbps() const { return totalKbps < 5000 ? totalKbps - 64 : totalKbps; }
    const char *codecName() const { return codec == VideoCodec::H264 ? "H.264" : "MPEG-1"; }
};

struct RunResult
{
    double cpuSeconds = 0;
    double serverCpuSeconds = 0; // of the X server meanwhile
    double streamSeconds = 0;    // of the run, as the tools were told
    int pictures = 0;            // that reached the listener
    qint64 videoBytes = 0;
    double videoKbitPerSecond = 0; // of the video payload, over its timestamps
    double cpuPerSecond() const { return streamSeconds > 0 ? cpuSeconds / streamSeconds : 0; }
    double serverCpuPerSecond() const
    {
        return streamSeconds > 0 ? serverCpuSeconds / streamSeconds : 0;
    }
    double videoKbitPerRunSecond() const
    {
        return streamSeconds > 0 ? videoBytes * 8 / streamSeconds / 1000 : 0;
    }
    QVector<DelaySample> delays;
    PictureQuality quality; // with the clip on the screen
    SettleQuality settling; // with the clip played to settle
    bool ok = false;
};

double cpuSeconds(const rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User + system time a running process has used so far; 0 when it cannot be read.
double cpuSecondsOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The fields after the command name, which may hold spaces, are counted from its ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The child side of a studio run: the capture controller with the real back end, as a session
// would run it, for `seconds`; then the tick times go to `tickFile`.
int runStudioChild(const QStringList &args)
{
    const QSize size(args[0].toInt(), args[1].toInt());
    const int totalKbps = args[2].toInt();
    const int seconds = args[3].toInt();
    const VideoCodec codec = VideoCodecs::fromKey(args[5]);
    const quint16 port = quint16(args[6].toUInt());
    const QString audio = args[7];
    auto factory = std::make_shared<TickRecordingFactory>(mfDefaultFactory());
    {
        CaptureStreamer streamer(factory);
        streamer.setSources(screenDevice, audio);
        streamer.setCaptureArea(0, QRect());
        streamer.setOutputParams(size, totalKbps);
        streamer.setIngestPort(port);
        streamer.setVideoCodec(codec);
        streamer.startStreaming(false);
        QThread::sleep(unsigned(seconds));
        streamer.stopStreaming();
        streamer.wait();
    }
    QFile file(args[4]);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    QTextStream out(&file);
    const QMap<qint64, qint64> ticks = factory->ticks();
    for (auto it = ticks.begin(); it != ticks.end(); ++it)
        out << it.key() << ' ' << it.value() << '\n';
    return 0;
}

QMap<qint64, qint64> readTicks(const QString &path)
{
    QMap<qint64, qint64> ticks;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ticks;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList parts = in.readLine().split(QLatin1Char(' '));
        if (parts.size() == 2)
            ticks.insert(parts[0].toLongLong(), parts[1].toLongLong());
    }
    return ticks;
}

struct Command
{
    QString program;
    QStringList args;
};

enum class Content { Moving, Still, Scenarios, Clip, SettlingClip };

class Bench
{
public:
    // `xvfbOptions` go to the X server ("-extension DAMAGE" for a server without it).
    bool setUp(Content content, QString *error, const QStringList &xvfbOptions = {});
    // What the screen does in the runs that follow (Content::Scenarios), from each run's start.
    void play(ScreenScenario::Kind kind) { m_kind = kind; }
    // Runs the commands side by side until all have ended; their CPU times add up.
    RunResult run(const QList<Command> &commands, const Job &job, int seconds,
                  const QString &tickFile);
    QList<Command> ffmpegCommands(const Job &job, int seconds) const;
    QString display() const { return m_xvfb.display(); }
    quint16 port() const { return m_ingest.port(); }

private:
    XvfbSession m_xvfb;
    PulseSession m_pulse;
    MovingContent m_content;
    ChangeMarker m_marker;
    ScreenClip m_clip;
    ScreenScenario m_scenario;
    std::optional<ScreenScenario::Kind> m_kind;
    bool m_playsClip = false;
    bool m_settles = false;
    IngestCollector m_ingest;
};

bool Bench::setUp(Content content, QString *error, const QStringList &xvfbOptions)
{
    if (!m_xvfb.start(screenSize, error, QSize(), xvfbOptions) || !m_pulse.start(error))
        return false;
    qputenv("DISPLAY", m_xvfb.display().toLocal8Bit());
    qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
    m_playsClip = content == Content::Clip || content == Content::SettlingClip;
    m_settles = content == Content::SettlingClip;
    if (m_playsClip) {
        if (!m_clip.load(QString::fromUtf8(LUMACAST_CLIP_CODE), error) ||
            !m_clip.play(m_xvfb.display(), error,
                         m_settles ? ScreenClip::Play::Settle : ScreenClip::Play::Loop))
            return false;
    } else if (content == Content::Scenarios) {
        // The marker above the scenario's window, changing about once a second.
        if (!m_scenario.open(m_xvfb.display(), screenSize, error) ||
            !m_marker.start(m_xvfb.display(), markerRect, error, 900, 200))
            return false;
    } else if ((content == Content::Moving &&
                // A presentation with a playing video in the middle of the screen.
                !m_content.start(m_xvfb.display(), QRect(480, 270, 960, 540), error)) ||
               !m_marker.start(m_xvfb.display(), markerRect, error)) {
        return false;
    }
    // A free port of the system's choice, where the encoders of both pipelines send.
    if (!m_ingest.listen()) {
        *error = QStringLiteral("cannot listen on the loopback");
        return false;
    }
    return true;
}

QList<Command> Bench::ffmpegCommands(const Job &job, int seconds) const
{
    // Two processes, like the studio's two writers: one ffmpeg reading both inputs paces itself
    // by the slower one and drops most pictures.
    const QString video = QString::number(job.videoKbps()) + QLatin1Char('k');
    const QStringList common{"-nostdin", "-hide_banner", "-loglevel", "error"};
    const QStringList output{"-t", QString::number(seconds), "-f", "mpegts",
                             QStringLiteral("tcp://127.0.0.1:%1").arg(port())};
    // The encoder settings the studio uses for each codec, as far as the tool has them.
    const QStringList encoder =
        job.codec == VideoCodec::H264
            ? QStringLiteral("-pix_fmt yuv420p -c:v libx264 -profile:v baseline -preset veryfast "
                             "-tune zerolatency -g 48 -omit_video_pes_length 0")
                      .split(QLatin1Char(' ')) +
                  QStringList{"-b:v", video, "-maxrate", video, "-bufsize", video}
            : QStringList{"-c:v", "mpeg1video", "-g", "240", "-b:v", video, "-maxrate", video};
    const QString grabSize =
        QStringLiteral("%1x%2").arg(screenSize.width()).arg(screenSize.height());
    const QString scale =
        QStringLiteral("scale=%1:%2").arg(job.size.width()).arg(job.size.height());
    QList<Command> commands{
        {QStringLiteral("ffmpeg"),
         common +
             QStringList{"-f", "x11grab", "-framerate", "24", "-draw_mouse", "0", "-video_size",
                         grabSize, "-i", m_xvfb.display(), "-vf", scale} +
             encoder + output},
    };
    if (job.sound)
        commands.append({QStringLiteral("ffmpeg"),
                         common +
                             QStringList{"-f", "pulse", "-sample_rate", "48000", "-channels", "1",
                                         "-i", "studio.monitor", "-c:a", "mp2", "-b:a", "64k"} +
                             output});
    return commands;
}

RunResult Bench::run(const QList<Command> &commands, const Job &job, int seconds,
                     const QString &tickFile)
{
    RunResult result;
    m_ingest.reset();
    if (m_kind)
        m_scenario.start(*m_kind);
    const int firstChange = int(m_marker.changes().size());
    const double serverCpuBefore = cpuSecondsOf(m_xvfb.pid());
    std::vector<std::unique_ptr<ChildProcess>> children;
    QString error;
    for (const Command &command : commands) {
        children.push_back(std::make_unique<ChildProcess>());
        if (!children.back()->start(command.program, command.args, ChildProcess::Options{},
                                    &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return result;
        }
    }
    const auto running = [&children] {
        bool any = false;
        for (const auto &child : children)
            any = child->running() || any;
        return any;
    };
    // The listener needs the event loop while the child runs.
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer timer;
    timer.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!running() || timer.elapsed() > (seconds + 30) * 1000)
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    for (const auto &child : children)
        result.cpuSeconds += cpuSeconds(child->stop());
    result.serverCpuSeconds = cpuSecondsOf(m_xvfb.pid()) - serverCpuBefore;
    m_scenario.stop();
    QThread::msleep(200);
    QCoreApplication::processEvents();

    const QVector<ChangeMarker::Change> all = m_marker.changes();
    const QVector<ChangeMarker::Change> changes = all.mid(firstChange);
    const QPoint marker(markerRect.center().x() * job.size.width() / screenSize.width(),
                        markerRect.center().y() * job.size.height() / screenSize.height());
    const QMap<qint64, qint64> ticks =
        tickFile.isEmpty() ? QMap<qint64, qint64>() : readTicks(tickFile);
    for (int i = 0; i < m_ingest.count(); ++i) {
        TsDemux demux;
        if (!demux.open(m_ingest.connection(i).data, &error))
            continue;
        for (const TsDemux::Stream &stream : demux.streams)
            if (stream.type == AVMEDIA_TYPE_VIDEO) {
                result.delays = measureDelays(demux, m_ingest, i, changes, marker, ticks);
                // A sparse stream's length is the run's, not its pictures over 24.
                result.streamSeconds = seconds;
                result.pictures = int(demux.packets.size());
                result.videoBytes = m_ingest.totalBytes(i);
                result.videoKbitPerSecond = demux.videoBitrate() / 1000;
                if (m_settles)
                    result.settling = scoreSettling(demux, m_clip, settleTimes);
                else if (m_playsClip)
                    result.quality = scorePictures(demux, m_clip);
                result.ok = true;
            }
    }
    return result;
}

void printDelays(const char *who, const QVector<DelaySample> &delays)
{
    QVector<double> total;
    QVector<double> wait;
    QVector<double> beyond;
    for (const DelaySample &d : delays) {
        total.append(d.totalUs / 1000.0);
        if (d.tickWaitUs >= 0) {
            wait.append(d.tickWaitUs / 1000.0);
            beyond.append((d.totalUs - d.tickWaitUs) / 1000.0);
        }
    }
    std::printf("  %-8s changes %3d  total median %6.1f p95 %6.1f", who, int(total.size()),
                percentile(total, 0.5), percentile(total, 0.95));
    if (!beyond.isEmpty())
        std::printf("  | wait for tick median %5.1f  | beyond the tick median %5.1f p95 %5.1f min "
                    "%5.1f max %5.1f",
                    percentile(wait, 0.5), percentile(beyond, 0.5), percentile(beyond, 0.95),
                    percentile(beyond, 0), percentile(beyond, 1));
    std::printf("\n");
}

Command studioCommand(const Job &job, int seconds, const QString &tickFile, quint16 port)
{
    return {QCoreApplication::applicationFilePath(),
            {"--studio", QString::number(job.size.width()), QString::number(job.size.height()),
             QString::number(job.totalKbps), QString::number(seconds), tickFile,
             VideoCodecs::key(job.codec), QString::number(port),
             job.sound ? studioMonitor : QStringLiteral("NO_AUDIO")}};
}

void measureCostAndDelay(Bench &bench, int seconds, bool still)
{
    const QString tickFile = QDir::temp().filePath(
        QStringLiteral("capture_encode_ticks_%1").arg(QCoreApplication::applicationPid()));
    QVector<Job> jobs;
    for (const VideoCodec codec : {VideoCodec::Mpeg1, VideoCodec::H264})
        jobs += {{QSize(960, 540), 1000, codec}, {QSize(1920, 1080), 4000, codec}};
    std::printf("capture_encode: %d s per run; Xvfb %dx%d with %s; audio from a "
                "PulseAudio null sink; both tools send MPEG-1 or H.264 (libx264 Baseline, "
                "veryfast, zerolatency) video and MP2 48 kHz mono as two transport streams over "
                "TCP\n",
                seconds, screenSize.width(), screenSize.height(),
                still ? "a still slide and a 128x128 patch changing every 250-450 ms"
                      : "moving content");
    std::printf("CPU seconds per second of the run (user + system of the studio process, or of "
                "the two ffmpeg processes), pictures and video bytes that reached the listener:\n");
    QVector<QPair<RunResult, RunResult>> results;
    for (const Job &job : jobs) {
        const RunResult studio = bench.run({studioCommand(job, seconds, tickFile, bench.port())},
                                           job, seconds, tickFile);
        const RunResult cli = bench.run(bench.ffmpegCommands(job, seconds), job, seconds, {});
        std::printf(
            "  %-6s %4dx%-4d %4d kbit/s   studio %.3f (%d pictures, %lld bytes)   ffmpeg CLI %.3f "
            "(%d pictures, %lld bytes)   ratio %.2f%s\n",
            job.codecName(), job.size.width(), job.size.height(), job.videoKbps(),
            studio.cpuPerSecond(), studio.pictures, static_cast<long long>(studio.videoBytes),
            cli.cpuPerSecond(), cli.pictures, static_cast<long long>(cli.videoBytes),
            cli.cpuPerSecond() > 0 ? studio.cpuPerSecond() / cli.cpuPerSecond() : 0.0,
            studio.ok && cli.ok ? "" : "   (a run delivered no video)");
        std::fflush(stdout);
        results.append({studio, cli});
    }
    QFile::remove(tickFile);
    std::printf("Capture-to-ingest delay of a changed picture, ms (screen change -> first "
                "transport packet of the picture showing it, at the listener):\n");
    for (int i = 0; i < jobs.size(); ++i) {
        std::printf(" %s %dx%d:\n", jobs[i].codecName(), jobs[i].size.width(),
                    jobs[i].size.height());
        printDelays("studio", results[i].first.delays);
        printDelays("ffmpeg", results[i].second.delays);
    }
}

// `stillOnly`: the still slide's rows alone.
void measureScenarios(Bench &bench, int seconds, bool stillOnly)
{
    const QString tickFile = QDir::temp().filePath(
        QStringLiteral("capture_encode_ticks_%1").arg(QCoreApplication::applicationPid()));
    std::printf("capture_encode --scenarios: %d s per run; Xvfb %dx%d, a 128x128 marker changing "
                "about once a second above what the screen does; MPEG-1 at the 1 Mbs preset (%d "
                "kbit/s of video), with MP2 48 kHz mono from a PulseAudio null sink in both tools "
                "or without sound in both (the sound column); each studio run beside the ffmpeg "
                "tool's (x11grab at 24 fps) on the same screen\n",
                seconds, screenSize.width(), screenSize.height(), Job{{}, 1000, {}}.videoKbps());
    std::printf("CPU-s per s of the run: the studio process or the two ffmpeg processes, and the X "
                "server's meanwhile (its drawing of the scenario included); video kbit/s over "
                "the run; change-to-ingest delay of the marker, median (p95) ms\n");
    std::printf("  %-18s %-9s %-5s | %-34s | %-34s | %s\n", "scenario", "size", "sound",
                "studio CPU  X CPU  pictures kbit/s", "ffmpeg CPU  X CPU  pictures kbit/s",
                "ratio  delay studio / ffmpeg");
    using Kind = ScreenScenario::Kind;
    struct Row
    {
        Kind kind;
        bool sound;
    };
    // The still slide both ways: sound alone keeps a steady pace there.
    QVector<Row> rows{{Kind::StillSlide, true}, {Kind::StillSlide, false}};
    if (!stillOnly)
        for (const Kind kind : {Kind::SlideChanges, Kind::Typing, Kind::Scrolling, Kind::Motion})
            rows.append({kind, true});
    for (const Row &row : rows) {
        const Kind kind = row.kind;
        bench.play(kind);
        for (const QSize size : {QSize(960, 540), QSize(1920, 1080)}) {
            const Job job{size, 1000, VideoCodec::Mpeg1, row.sound};
            const RunResult studio = bench.run(
                {studioCommand(job, seconds, tickFile, bench.port())}, job, seconds, tickFile);
            const RunResult cli = bench.run(bench.ffmpegCommands(job, seconds), job, seconds, {});
            const auto delay = [](const RunResult &r, double share) {
                QVector<double> ms;
                for (const DelaySample &d : r.delays)
                    ms.append(d.totalUs / 1000.0);
                return percentile(ms, share);
            };
            std::printf("  %-18s %4dx%-4d %-5s | %10.3f %6.3f %9d %6.0f | %10.3f %6.3f %9d %6.0f | "
                        "%5.2f  %5.1f (%5.1f) / %5.1f (%5.1f)%s\n",
                        ScreenScenario::name(kind), size.width(), size.height(),
                        row.sound ? "yes" : "no", studio.cpuPerSecond(),
                        studio.serverCpuPerSecond(), studio.pictures,
                        studio.videoKbitPerRunSecond(), cli.cpuPerSecond(),
                        cli.serverCpuPerSecond(), cli.pictures, cli.videoKbitPerRunSecond(),
                        cli.cpuPerSecond() > 0 ? studio.cpuPerSecond() / cli.cpuPerSecond() : 0.0,
                        delay(studio, 0.5), delay(studio, 0.95), delay(cli, 0.5), delay(cli, 0.95),
                        studio.ok && cli.ok ? "" : "   (a run delivered no video)");
            std::fflush(stdout);
        }
    }
    QFile::remove(tickFile);
}

void measureQuality(int seconds)
{
    std::printf("capture_encode --quality: %d s per run; a %d-frame screen-content clip (text "
                "slide with a chart, code page, scroll through the code at 15 px per frame) "
                "looped full screen on Xvfb %dx%d at 24 frames/s; the studio's own pictures "
                "scaled to %dx%d and scored by luma PSNR against the frame each shows\n",
                seconds, ScreenClip::frameCount, screenSize.width(), screenSize.height(),
                ScreenClip::size.width(), ScreenClip::size.height());
    const QVector<QPair<QSize, int>> presets{
        {QSize(960, 540), 512}, {QSize(1920, 1080), 1000}, {QSize(1920, 1080), 4000}};
    const QVector<VideoCodec> codecs{VideoCodec::Mpeg1, VideoCodec::H264};
    struct Capture
    {
        const char *name;
        QStringList xvfbOptions;
    };
    // The clock-driven capture is what a server without DAMAGE gets.
    const QVector<Capture> captures{{"change-driven", {}},
                                    {"clock-driven", {"-extension", "DAMAGE"}}};
    QVector<QVector<RunResult>> runs(captures.size());
    for (int c = 0; c < captures.size(); ++c) {
        Bench bench;
        QString error;
        if (!bench.setUp(Content::Clip, &error, captures[c].xvfbOptions)) {
            std::fprintf(stderr, "capture_encode: %s\n", qPrintable(error));
            return;
        }
        for (const auto &preset : presets) {
            for (const VideoCodec codec : codecs) {
                const Job job{preset.first, preset.second, codec};
                const RunResult run =
                    bench.run({studioCommand(job, seconds, {}, bench.port())}, job, seconds, {});
                const PictureQuality &q = run.quality;
                std::printf("  %-13s %4dx%-4d %4d Kbs  %-6s  PSNR mean %5.1f dB  lowest %5.1f dB "
                            " at %5.0f kbit/s  (%d pictures scored, %d unreadable)%s\n",
                            captures[c].name, job.size.width(), job.size.height(), job.totalKbps,
                            job.codecName(), q.meanPsnr, q.lowestPsnr, run.videoKbitPerSecond,
                            q.scored, q.unreadable, run.ok ? "" : "   (no video)");
                std::fflush(stdout);
                runs[c].append(run);
            }
            const RunResult &mpeg1 = runs[c][runs[c].size() - 2];
            const RunResult &h264 = runs[c].back();
            if (mpeg1.videoKbitPerSecond > 0)
                std::printf("  %42s H.264 - MPEG-1 %+5.1f dB, bits H.264 / MPEG-1 %.2f\n", "",
                            h264.quality.meanPsnr - mpeg1.quality.meanPsnr,
                            h264.videoKbitPerSecond / mpeg1.videoKbitPerSecond);
        }
    }
    std::printf("Change-driven against clock-driven capture, same preset and codec:\n");
    for (int i = 0; i < runs[0].size(); ++i) {
        const Job job{presets[i / 2].first, presets[i / 2].second, codecs[i % 2]};
        const RunResult &change = runs[0][i];
        const RunResult &clock = runs[1][i];
        std::printf("  %4dx%-4d %4d Kbs  %-6s  PSNR %5.1f against %5.1f dB (%+4.1f), kbit/s %5.0f "
                    "against %5.0f\n",
                    job.size.width(), job.size.height(), job.totalKbps, job.codecName(),
                    change.quality.meanPsnr, clock.quality.meanPsnr,
                    change.quality.meanPsnr - clock.quality.meanPsnr, change.videoKbitPerSecond,
                    clock.videoKbitPerSecond);
    }
}

void measureSettling(int seconds)
{
    std::printf("capture_encode --settle: %d s per run; the clip's code page scrolled full "
                "screen at 15 px per frame for 2 s, then held still for 3 s, over and over, on "
                "Xvfb %dx%d; FullHD at the 1 Mbs preset; luma PSNR of the still page as a viewer "
                "shows it (the last picture decoded by then) after the motion stopped, averaged "
                "over the still spells; CPU-s per s of the studio process\n",
                seconds, screenSize.width(), screenSize.height());
    std::printf("  %-13s %-6s | %7s %7s %7s %7s | %6s %8s %6s %4s\n", "capture", "codec", "0.2 s",
                "0.5 s", "1.0 s", "2.0 s", "CPU", "pictures", "kbit/s", "spells");
    struct Capture
    {
        const char *name;
        QStringList xvfbOptions;
    };
    const QVector<Capture> captures{{"change-driven", {}},
                                    {"clock-driven", {"-extension", "DAMAGE"}}};
    for (const Capture &capture : captures) {
        Bench bench;
        QString error;
        if (!bench.setUp(Content::SettlingClip, &error, capture.xvfbOptions)) {
            std::fprintf(stderr, "capture_encode: %s\n", qPrintable(error));
            return;
        }
        for (const VideoCodec codec : {VideoCodec::Mpeg1, VideoCodec::H264}) {
            const Job job{QSize(1920, 1080), 1000, codec};
            const RunResult run =
                bench.run({studioCommand(job, seconds, {}, bench.port())}, job, seconds, {});
            const SettleQuality &q = run.settling;
            std::printf("  %-13s %-6s |", capture.name, job.codecName());
            for (const double psnr : q.meanPsnr)
                std::printf(" %7.1f", psnr);
            std::printf(" | %6.3f %8d %6.0f %4d%s\n", run.cpuPerSecond(), run.pictures,
                        run.videoKbitPerRunSecond(), q.spells, run.ok ? "" : "   (no video)");
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 9 && args[0] == QLatin1String("--studio"))
        return runStudioChild(args.mid(1));
    const bool still = args.removeAll(QStringLiteral("--still")) > 0;
    const bool scenarios = args.removeAll(QStringLiteral("--scenarios")) > 0;
    const bool quality = args.removeAll(QStringLiteral("--quality")) > 0;
    const bool settle = args.removeAll(QStringLiteral("--settle")) > 0;
    int seconds = settle ? 16 : quality ? 12 : scenarios ? 6 : 30;
    if (args.size() == 2 && args[0] == QLatin1String("--seconds"))
        seconds = std::max(2, args[1].toInt());
    if (quality) {
        measureQuality(seconds);
        return 0;
    }
    if (settle) {
        measureSettling(seconds);
        return 0;
    }
    Bench bench;
    QString error;
    const Content content = scenarios ? Content::Scenarios
                            : still   ? Content::Still
                                      : Content::Moving;
    if (!bench.setUp(content, &error)) {
        std::fprintf(stderr, "capture_encode: %s\n", qPrintable(error));
        return 1;
    }
    if (scenarios)
        measureScenarios(bench, seconds, still);
    else
        measureCostAndDelay(bench, seconds, still);
    return 0;
}
