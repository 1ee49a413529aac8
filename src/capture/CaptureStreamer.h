#pragma once

#include "capture/CaptionBand.h"
#include "capture/VideoCodec.h"
#include "capture/media/IMFFactory.h"
#include "capture/media/MFFrame.h"
#include "capture/media/MFTypes.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <mutex>

// The capture controller: lists capture devices, selects the session's video and audio source,
// sets the screen-capture properties, and while streaming runs the frame pump (this thread),
// which takes each frame from the capture source and puts it to the video and the audio writer.
// Every public call comes from the GUI thread; the pump reads the enabled flags and the output
// format at each frame, so changes take effect from the next frame.
class CaptureStreamer : public QThread
{
public:
    explicit CaptureStreamer(QObject *parent = nullptr);
    // For tests: sources and writers come from `factory` instead of the process's back end.
    explicit CaptureStreamer(MFFactoryPtr factory, QObject *parent = nullptr);
    // Ends the pump and waits for it.
    ~CaptureStreamer() override;

    // `kind` "VIDEO" lists video devices, anything else external audio devices.
    void enumerateDevices(QString kind, QStringList &names);
    void setSources(QString videoName, QString audioName);
    void setNDIDevice(QString name);
    void setCaptureArea(int screenIndex, QRect area);
    void setOutputParams(QSize frameSize, int totalBitrate);
    // Takes effect at the next start.
    void setVideoCodec(VideoCodec codec) { m_videoCodec = codec; }
    VideoCodec videoCodec() const { return m_videoCodec; }
    // The local port the writers send to (the relay's ingest listener); 62000 unless set.
    void setIngestPort(quint16 port) { m_ingestPort = port; }
    void startStreaming(bool cloudMode);
    void stopStreaming();
    // A band of text over the bottom of the pictures sent (a question put on screen); empty
    // takes it off. Takes effect from the next frame, a still screen's too.
    void setCaption(const QString &text) { m_caption.setText(text); }

    // Index of the "NDI Receiver" device among the video devices, as the last enumeration saw
    // it; -1 until one was seen.
    static int ndiReceiverIndex();

    static QString videoWriterConfig(int gopLength, int videoBitrateKbps,
                                     VideoCodec codec = VideoCodec::Mpeg1);
    static QString audioWriterConfig(int audioBitrateKbps);

    int videoBitrate() const { return m_videoBitrate; }
    int audioBitrate() const { return m_audioBitrate; }
    MFAVProps outputProps() const;
    QString currentVideoName() const { return m_currentVideoName; }
    bool videoEnabled() const { return m_videoEnabled; }
    bool audioEnabled() const { return m_audioEnabled; }
    bool isStreaming() const { return m_running; }
    // What the chosen sources fail at: a device that was not found when it was chosen, else what
    // the latest frame of the running pump says; only the enabled sides count. Empty parts
    // while they deliver (and when no pump runs).
    MFSourceTrouble sourceTrouble() const;

protected:
    void run() override;

private:
    void setTrouble(const MFSourceTrouble &trouble);
    MFWriterPtr openWriter(const QString &config, const char *createError, const char *setupLog);

    MFFactoryPtr m_factory;
    MFDevicePtr m_device;
    MFWriterPtr m_videoWriter;
    MFWriterPtr m_audioWriter;
    // The pump copies the format at every frame. A standard mutex, which ThreadSanitizer sees
    // (QMutex locks inside Qt's uninstrumented library).
    mutable std::mutex m_outputPropsMutex;
    MFAVProps m_outputProps;
    mutable std::mutex m_troubleMutex;
    MFSourceTrouble m_trouble;
    CaptionBand m_caption;
    MFSourceTrouble m_missing; // GUI thread only
    QString m_currentVideoName;
    int m_videoBitrate = 960;
    int m_audioBitrate = 64;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_videoEnabled{false};
    std::atomic<bool> m_audioEnabled{false};
    bool m_cloudMode = false;
    VideoCodec m_videoCodec = VideoCodec::Mpeg1;
    quint16 m_ingestPort = 62000;
};
