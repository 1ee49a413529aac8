// What recording costs the studio: the same local session (screen and sound of a private Xvfb
// and PulseAudio, the FFmpeg back end, the relay on loopback with one viewer) run with and
// without Record, each in a fresh studio process, in the order off, on, on, off per codec so a
// machine whose load drifts weighs both alike. Prints the studio's CPU seconds per second of
// streaming for each, their ratio, and, apart, what the remux at Stop took (CPU and wall time;
// for H.264 it includes converting the sound to AAC). The on/off ratio carries the noise of a
// loaded machine and of the content's motion; the recorder's own CPU, timed around each call
// that hands it packets, shows its share without that noise.
//
//   recording_cost [--seconds N]     (15 by default; eight runs of N seconds)
#include "capture/media/FFFactory.h"
#include "record/Recorder.h"
#include "relay/WSServer.h"
#include "session/CaptureSources.h"
#include "session/StudioSession.h"
#include "support/ChildProcess.h"
#include "support/FreePortPair.h"
#include "support/MovingContent.h"
#include "support/PulseSession.h"
#include "support/QuestionStoreDir.h"
#include "support/XvfbSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <sys/resource.h>

namespace {

double cpuNow()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuNow()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The recorder's own share: the session's packets reach it through a timed call, the same work
// with two clock readings added, so its CPU shows apart from the process's noise.
void timeRecorder(StudioSession &session, double *recorderCpu)
{
    Recorder *recorder = session.recorder();
    QObject::disconnect(session.relay(), &WSServer::ingestPackets, recorder, &Recorder::take);
    QObject::connect(session.relay(), &WSServer::ingestPackets, recorder,
                     [recorder, recorderCpu](quintptr source, const QByteArray &packets) {
                         const double before = threadCpuNow();
                         recorder->take(source, packets);
                         *recorderCpu += threadCpuNow() - before;
                     });
}

// The studio side of one run: streams for `seconds` with one viewer, stops, waits for the remux,
// and prints "<streaming CPU s> <remux CPU s> <remux ms> <recorded bytes> <viewer bytes>
// <recorder CPU s>".
int runStudio(const QStringList &args)
{
    const int seconds = args[0].toInt();
    const bool record = args[1] == "1";
    const VideoCodec codec = VideoCodecs::fromKey(args[2]);
    const QString folder = args[3];
    QuestionStoreDir storeDir;
    QSettings settings(QDir(folder).filePath("settings.ini"), QSettings::IniFormat);
    settings.setValue("RECORD_DIR", folder);
    StudioSession session(&settings, std::make_shared<FFFactory>(), SessionPorts{0, 0});
    SessionRequest request;
    request.address = "127.0.0.1";
    request.port = freePortPair();
    request.maxAudioLag = 1.5;
    request.sources = {CaptureSources::kScreenDevice, "ORIGINAL", 0};
    request.frameSize = QSize(960, 540);
    request.bitrateKbps = 1000;
    request.videoCodec = codec;
    request.record = record;
    if (session.start(request, SessionChoices{}))
        return 2;
    double recorderCpu = 0;
    timeRecorder(session, &recorderCpu);
    qint64 viewerBytes = 0;
    QWebSocket viewer;
    QObject::connect(&viewer, &QWebSocket::binaryMessageReceived,
                     [&viewerBytes](const QByteArray &message) { viewerBytes += message.size(); });
    viewer.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/x/readvideo").arg(request.port + 1)));

    const double startCpu = cpuNow();
    double streamCpu = 0;
    double stopCpu = 0;
    qint64 recorded = 0;
    QElapsedTimer remux;
    const auto report = [&] {
        std::cout << streamCpu << ' ' << cpuNow() - stopCpu << ' ' << remux.elapsed() << ' '
                  << recorded << ' ' << viewerBytes << ' ' << recorderCpu << std::endl;
        QCoreApplication::quit();
    };
    QObject::connect(session.recorder(), &Recorder::finished, report);
    QObject::connect(session.recorder(), &Recorder::finishFailed, report);
    QTimer::singleShot(seconds * 1000, [&] {
        stopCpu = cpuNow();
        streamCpu = stopCpu - startCpu;
        recorded = session.recorder()->bytesWritten();
        remux.start();
        session.stop();
        if (!record)
            report();
    });
    return QCoreApplication::exec();
}

struct Run
{
    double streamCpu = 0;
    double remuxCpu = 0;
    qint64 remuxMs = 0;
    qint64 recordedBytes = 0;
    qint64 viewerBytes = 0;
    double recorderCpu = 0;
    bool ok = false;
};

class Bench
{
public:
    bool setUp(QString *error);
    Run run(int seconds, bool record, const QString &codec);

private:
    XvfbSession m_xvfb;
    PulseSession m_pulse;
    MovingContent m_content;
    ChildProcess m_tone;
};

bool Bench::setUp(QString *error)
{
    if (!m_xvfb.start(QSize(1280, 720), error) || !m_pulse.start(error))
        return false;
    qputenv("DISPLAY", m_xvfb.display().toLocal8Bit());
    qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
    ChildProcess::Options tone;
    tone.environment << "PULSE_SERVER=" + m_pulse.server();
    return m_content.start(m_xvfb.display(), QRect(0, 0, 1280, 720), error) &&
           m_tone.start("ffmpeg",
                        {"-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                         "sine=frequency=440:sample_rate=48000", "-f", "pulse", "-device", "studio",
                         "tone"},
                        tone, error);
}

Run Bench::run(int seconds, bool record, const QString &codec)
{
    Run result;
    QTemporaryDir folder;
    ChildProcess studio;
    ChildProcess::Options options;
    options.pipes = true;
    QString error;
    if (!studio.start(
            QCoreApplication::applicationFilePath(),
            {"--studio", QString::number(seconds), record ? "1" : "0", codec, folder.path()},
            options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return result;
    }
    try {
        const QStringList line =
            QString::fromStdString(studio.readLine((seconds + 120) * 1000)).split(' ');
        if (line.size() == 6) {
            result = {line[0].toDouble(),
                      line[1].toDouble(),
                      line[2].toLongLong(),
                      line[3].toLongLong(),
                      line[4].toLongLong(),
                      line[5].toDouble(),
                      true};
        }
    } catch (const std::runtime_error &failure) {
        std::fprintf(stderr, "studio run: %s\n", failure.what());
    }
    studio.stop();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 5 && args[0] == QLatin1String("--studio"))
        return runStudio(args.mid(1));
    int seconds = 15;
    if (args.size() == 2 && args[0] == QLatin1String("--seconds"))
        seconds = std::max(3, args[1].toInt());

    Bench bench;
    QString error;
    if (!bench.setUp(&error)) {
        std::fprintf(stderr, "recording_cost: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("recording_cost: %d s per run; Xvfb 1280x720 with moving content, a 440 Hz tone; "
                "960x540 at 1000 kbit/s, one viewer on loopback\n",
                seconds);
    std::printf("studio CPU seconds per second of streaming (user + system of the whole "
                "process):\n");
    for (const QString &codec : {QStringLiteral("mpeg1"), QStringLiteral("h264")}) {
        double off = 0;
        double on = 0;
        bool ok = true;
        for (const bool record : {false, true, true, false}) {
            const Run run = bench.run(seconds, record, codec);
            ok = ok && run.ok;
            (record ? on : off) += run.streamCpu / seconds / 2;
            std::printf("  %-5s record %-3s  cpu/s %.3f  viewer %lld bytes", qPrintable(codec),
                        record ? "on" : "off", run.streamCpu / seconds,
                        static_cast<long long>(run.viewerBytes));
            if (record) {
                std::printf("  recorded %lld bytes, the recorder %.4f cpu/s (%.1f %% of the "
                            "studio's); remux at Stop %.3f CPU s in %lld ms",
                            static_cast<long long>(run.recordedBytes), run.recorderCpu / seconds,
                            run.streamCpu > 0 ? 100 * run.recorderCpu / run.streamCpu : 0.0,
                            run.remuxCpu, static_cast<long long>(run.remuxMs));
            }
            std::printf("%s\n", run.ok ? "" : "  (the run failed)");
            std::fflush(stdout);
        }
        std::printf("  %-5s on/off ratio %.3f (%+.1f %%)%s\n", qPrintable(codec),
                    off > 0 ? on / off : 0.0, off > 0 ? (on / off - 1) * 100 : 0.0,
                    ok ? "" : "  (a run failed)");
    }
    return 0;
}
