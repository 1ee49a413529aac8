#include "capture/CaptureStreamer.h"

#include "capture/media/IMFProps.h"
#include "capture/media/IMFSource.h"
#include "capture/setMFDevice.h"

#include <QDebug>

namespace {

std::atomic<int> s_ndiReceiverIndex{-1};

const char ndiPrefix[] = "NDI:";
// Total bitrates below this carry the audio inside them.
constexpr int audioIncludedBelowKbps = 5000;
constexpr int minVideoKbps = 200;
constexpr int raisedVideoKbps = 256;

// A chosen device that the back end no longer lists (unplugged since the list was filled).
QString notFound(const QString &name)
{
    return name + QStringLiteral(": not connected");
}

} // namespace

CaptureStreamer::CaptureStreamer(QObject *parent) : CaptureStreamer(mfDefaultFactory(), parent) {}

CaptureStreamer::CaptureStreamer(MFFactoryPtr factory, QObject *parent)
    : QThread(parent), m_factory(std::move(factory))
{
    m_device = m_factory->createDevice();
    if (!m_device)
        qCritical() << "__cdecl CaptureStreamer::CaptureStreamer(void)"
                    << "ERROR: Can't create MFormats instance";
    m_outputProps.video.width = 960;
    m_outputProps.video.height = 540;
    m_outputProps.video.frameRate = 24.0;
}

CaptureStreamer::~CaptureStreamer()
{
    m_running.exchange(false);
    wait();
}

int CaptureStreamer::ndiReceiverIndex()
{
    return s_ndiReceiverIndex;
}

MFAVProps CaptureStreamer::outputProps() const
{
    std::lock_guard<std::mutex> lock(m_outputPropsMutex);
    return m_outputProps;
}

MFSourceTrouble CaptureStreamer::sourceTrouble() const
{
    MFSourceTrouble trouble;
    {
        std::lock_guard<std::mutex> lock(m_troubleMutex);
        trouble = m_trouble;
    }
    if (!m_missing.video.isEmpty())
        trouble.video = m_missing.video;
    if (!m_missing.audio.isEmpty())
        trouble.audio = m_missing.audio;
    if (!isRunning())
        trouble = {};
    if (!m_videoEnabled)
        trouble.video.clear();
    if (!m_audioEnabled)
        trouble.audio.clear();
    return trouble;
}

void CaptureStreamer::setTrouble(const MFSourceTrouble &trouble)
{
    std::lock_guard<std::mutex> lock(m_troubleMutex);
    m_trouble = trouble;
}

void CaptureStreamer::enumerateDevices(QString kind, QStringList &names)
{
    const MFDevicePtr device = m_factory->createDevice();
    if (!device) {
        qCritical() << "void __cdecl CaptureStreamer::enumerateDevices(class QString,class "
                       "QStringList &)"
                    << "ERROR: Can't create MFormats instance";
        return;
    }
    names.clear();
    const eMFDeviceType type = kind == QLatin1String("VIDEO") ? eMFDT_Video : eMFDT_ExtAudio;
    int count = 0;
    if (mfFailed(device->DeviceGetCount(type, &count))) {
        qCritical() << "void __cdecl CaptureStreamer::enumerateDevices(class QString,class "
                       "QStringList &)"
                    << "DeviceGetCount FAILED";
        return;
    }
    static const QStringList excluded{
        QString(),
        QStringLiteral("<None>"),
        QStringLiteral("NDI Receiver"),
        QStringLiteral("<No External Audio>"),
        QStringLiteral("Medialooks DXGI/DX11 ScreenCapture"),
        QStringLiteral("Medialooks WebCapture"),
    };
    for (int index = 0; index < count; ++index) {
        QString name;
        int busy = 0;
        device->DeviceGetByIndex(type, index, &name, &busy);
        qDebug() << "buttonName:" << name;
        if (name == QLatin1String("NDI Receiver"))
            s_ndiReceiverIndex = index;
        if (!excluded.contains(name))
            names.append(name);
    }
}

void CaptureStreamer::setSources(QString videoName, QString audioName)
{
    m_missing = MFSourceTrouble();
    if (videoName == QLatin1String("NO_VIDEO")) {
        m_videoEnabled = false;
        qDebug() << "-- DISABLE VIDEO";
    } else if (videoName.startsWith(QLatin1String(ndiPrefix))) {
        setNDIDevice(videoName);
        m_currentVideoName = videoName;
        m_videoEnabled = true;
    } else {
        const bool found = setMFDevice(m_device, eMFDT_Video, videoName);
        qDebug() << "setVideoDevice:" << videoName << found;
        if (!found)
            m_missing.video = notFound(videoName);
        m_currentVideoName = videoName;
        m_videoEnabled = true;
    }

    if (audioName == QLatin1String("NO_AUDIO")) {
        m_audioEnabled = false;
        std::lock_guard<std::mutex> lock(m_outputPropsMutex);
        m_outputProps.audio = MFAudioProps();
        return;
    }
    m_audioEnabled = true;
    m_audioBitrate = 64;
    {
        std::lock_guard<std::mutex> lock(m_outputPropsMutex);
        m_outputProps.audio.channels = 1;
        m_outputProps.audio.samplesPerSec = 48000;
        m_outputProps.audio.bitsPerSample = 16;
    }
    if (audioName == QLatin1String("ORIGINAL")) {
        // The video device's own sound: an external device chosen earlier must not stay behind it.
        const bool cleared =
            setMFDevice(m_device, eMFDT_ExtAudio, QStringLiteral("<No External Audio>"));
        qDebug() << "set External AudioDevices to None:" << cleared;
        return;
    }
    const bool noInternal = setMFDevice(m_device, eMFDT_Audio, QStringLiteral("<No Audio>"));
    qDebug() << "set Internal AudioDevice to None:" << noInternal;
    const bool external = setMFDevice(m_device, eMFDT_ExtAudio, audioName);
    qDebug() << "set External AudioDevices:" << audioName << external;
    if (!external)
        m_missing.audio = notFound(audioName);
}

void CaptureStreamer::setNDIDevice(QString name)
{
    const QString source = name.mid(int(qstrlen(ndiPrefix)));
    const int receiver = s_ndiReceiverIndex;
    qDebug() << "setNDIDevice:" << receiver << source;
    if (m_currentVideoName.startsWith(QLatin1String(ndiPrefix))) {
        qDebug() << "skip NDI Receiver switch";
    } else if (!m_device || mfFailed(m_device->DeviceSet(eMFDT_Video, receiver, QString()))) {
        qDebug() << "FAILED SETUP NDI";
    }
    const auto props = mfQuery<IMFProps>(m_device);
    if (!props || mfFailed(props->PropsSet(QStringLiteral("line-in"), source)))
        qCritical() << "void __cdecl CaptureStreamer::setNDIDevice(class QString)"
                    << "set line-in FAILED:";
    else
        qDebug() << "PROPS SET SUCCESSFULL";
}

void CaptureStreamer::setCaptureArea(int screenIndex, QRect area)
{
    QString areaText;
    if (!area.isEmpty()) {
        areaText = QStringLiteral("%1,%2,%3,%4")
                       .arg(area.left())
                       .arg(area.top())
                       .arg(area.right())
                       .arg(area.bottom());
        const QString sizeText = QStringLiteral("%1x%2").arg(area.width()).arg(area.height());
        qDebug() << "SET AREA:" << areaText << sizeText << screenIndex;
    }
    const auto props = mfQuery<IMFProps>(m_device);
    if (!props)
        return;
    props->PropsSet(QStringLiteral("capture.highlight_mouse"), QStringLiteral("hide"));
    props->PropsSet(QStringLiteral("capture.screen_index"), QString::number(screenIndex));
    props->PropsSet(QStringLiteral("capture.area"), areaText);
    props->PropsSet(QStringLiteral("capture.frame_size"),
                    area.isEmpty() ? QStringLiteral("screen") : QStringLiteral("area"));
    props->PropsSet(QStringLiteral("capture.background_color"), QStringLiteral("black(0)"));
    props->PropsSet(QStringLiteral("capture.aspect_ratio"), QStringLiteral("keep"));
}

void CaptureStreamer::setOutputParams(QSize frameSize, int totalBitrate)
{
    int video = totalBitrate;
    if (video < audioIncludedBelowKbps)
        video -= m_audioBitrate;
    if (video < minVideoKbps)
        video = raisedVideoKbps;
    m_videoBitrate = video;
    qDebug() << "setOutputParams:" << frameSize << m_videoBitrate << m_audioBitrate;
    std::lock_guard<std::mutex> lock(m_outputPropsMutex);
    m_outputProps.video.width = frameSize.width();
    m_outputProps.video.height = frameSize.height();
}

QString CaptureStreamer::videoWriterConfig(int gopLength, int videoBitrateKbps, VideoCodec codec)
{
    if (codec == VideoCodec::H264)
        // Constrained Baseline without B-frames is what every browser decoder takes and what
        // holds no picture back; x264 repeats SPS and PPS before each IDR picture, so a joiner
        // can start there. maxrate binds x264 only with a buffer: one second of it. The PES
        // length is written because a page's demuxer otherwise holds a small P-frame until the
        // next PES starts. Without open groups, the full picture a still screen is refreshed
        // with is an IDR, so a joiner on a still slide starts there.
        return QStringLiteral("format='mpegts' omit_video_pes_length='0' video::codec='libx264' "
                              "video::profile='baseline' video::preset='veryfast' "
                              "video::tune='zerolatency' video::g='%1' video::b='%2K' "
                              "video::maxrate='%2K' video::bufsize='%2K' audio::codec='null' ")
            .arg(gopLength)
            .arg(videoBitrateKbps);
    return QStringLiteral("format='mpegts' ") + QStringLiteral(" video::codec='mpeg1video' ") +
           QStringLiteral(" video::g='%1'").arg(gopLength) +
           QStringLiteral(" video::b='%1K'  video::maxrate='%1K' ").arg(videoBitrateKbps) +
           QStringLiteral(" audio::codec='null' ");
}

QString CaptureStreamer::audioWriterConfig(int audioBitrateKbps)
{
    return QStringLiteral("format='mpegts' ") + QStringLiteral(" video::codec='null' ") +
           QStringLiteral(" audio::codec='mp2'  audio::b='%1K'  audio::minrate='%1K' "
                          "audio::maxrate='%1K' ")
               .arg(audioBitrateKbps);
}

MFWriterPtr CaptureStreamer::openWriter(const QString &config, const char *createError,
                                        const char *setupLog)
{
    MFWriterPtr writer = m_factory->createWriter();
    if (!writer) {
        qDebug() << createError;
        return writer;
    }
    const QString target = QStringLiteral("tcp://127.0.0.1:%1").arg(m_ingestPort);
    const bool opened = !mfFailed(writer->WriterSet(target, 1, config));
    qDebug() << setupLog << config << opened;
    return writer;
}

void CaptureStreamer::startStreaming(bool cloudMode)
{
    // A pump still finishing its last frame must not share the writers with the next one.
    m_running.exchange(false);
    wait();
    m_cloudMode = cloudMode;

    const int gop = int(outputProps().video.frameRate * VideoCodecs::gopSeconds(m_videoCodec));
    m_videoWriter.reset();
    m_videoWriter =
        openWriter(videoWriterConfig(gop, m_videoBitrate, m_videoCodec),
                   "ERROR 10: Can't create Video MFWriter instance", "setup config Video Writer:");

    int audioKbps = m_audioBitrate;
    if (m_cloudMode) {
        audioKbps *= 2;
        qDebug() << " cloud mode audio bitrate:" << audioKbps;
    }
    m_audioWriter.reset();
    m_audioWriter =
        openWriter(audioWriterConfig(audioKbps), "ERROR 10: Can't create Audio MFWriter instance",
                   "setup config Audio Writer:");

    m_running.exchange(true);
    start();
}

void CaptureStreamer::stopStreaming()
{
    m_running.exchange(false);
}

void CaptureStreamer::run()
{
    const auto source = mfQuery<IMFSource>(m_device);
    if (!source)
        return;
    const MFWriterPtr videoWriter = m_videoWriter;
    const MFWriterPtr audioWriter = m_audioWriter;
    while (m_running) {
        MFFramePtr taken;
        if (mfFailed(source->SourceFrameConvertedGet(outputProps(), -1, &taken, QString())))
            continue;
        const MFFramePtr frame = m_caption.apply(taken);
        setTrouble(frame->trouble());
        if (m_videoEnabled && videoWriter) {
            const MFResult result = videoWriter->ReceiverFramePut(frame, -1, QString());
            if (mfFailed(result))
                qDebug().noquote()
                    << QStringLiteral("write video error ") + QString::number(result);
        }
        if (m_audioEnabled && audioWriter) {
            const MFResult result = audioWriter->ReceiverFramePut(frame, -1, QString());
            if (mfFailed(result))
                qDebug().noquote()
                    << QStringLiteral("write audio error ") + QString::number(result);
        }
    }
    source->SourceClose();
    setTrouble({});
}
