#pragma once

#include "capture/media/AudioInput.h"
#include "capture/media/CameraInput.h"
#include "capture/media/DeviceCatalog.h"
#include "capture/media/DeviceSelection.h"
#include "capture/media/FrameClock.h"
#include "capture/media/IMFDevice.h"
#include "capture/media/IMFProps.h"
#include "capture/media/IMFSource.h"
#include "capture/media/PictureConverter.h"
#include "capture/media/PortalScreenInput.h"
#include "capture/media/ScreenChangeWatch.h"
#include "capture/media/ScreenGrabber.h"

#include <QMap>
#include <chrono>
#include <mutex>
#include <optional>

// The capture source object over FFmpeg: lists and selects devices, keeps the string properties,
// and on every tick of its 24 fps clock delivers the newest picture of the selected video device
// (the screen grabbed at that moment, or a camera's latest picture) and that period's sound.
// Where the X server reports damage, the screen is grabbed only when it changed, and a Wayland
// desktop's share is taken only when the compositor sent a new picture: a change is delivered at
// once in a frame of its own between the ticks, and ticks without a change carry the sound alone
// (ScreenChangeWatch).
// Selection and properties may change from any thread while one consumer thread takes frames;
// the consumer opens and closes the inputs, so a change takes effect from its next frame.
// A device that is missing or fails gives black pictures or silence, and is retried every second.
class FFDevice : public IMFDevice, public IMFProps, public IMFSource
{
public:
    FFDevice();
    ~FFDevice() override;

    MFResult DeviceGetCount(eMFDeviceType type, int *count) override;
    MFResult DeviceGetByIndex(eMFDeviceType type, int index, QString *name, int *busy) override;
    MFResult DeviceSet(eMFDeviceType type, int index, const QString &props) override;

    MFResult PropsSet(const QString &name, const QString &value) override;
    MFResult PropsOptionGetCount(const QString &name, int *count) override;
    MFResult PropsOptionGetByIndex(const QString &name, int index, QString *option,
                                   QString *help) override;

    MFResult SourceFrameConvertedGet(const MFAVProps &format, int64_t maxWaitMs, MFFramePtr *frame,
                                     const QString &props) override;
    void SourceClose() override;

    // How the Wayland desktop's share delivers (zeros for any other source). Consumer thread.
    PipeWireStream::Statistics screenShareStatistics() const;

private:
    using Clock = std::chrono::steady_clock;

    using Selection = DeviceSelection;

    QList<MFDeviceEntry> listDevices(eMFDeviceType type);
    bool isListed(eMFDeviceType type);
    MFResult entryAt(eMFDeviceType type, int index, MFDeviceEntry *entry);

    // Consumer side: follows the selection with the inputs it opens.
    void follow(const Selection &selection);
    void followAudio(const MFAVProps &format);
    FFFramePtr picture(const MFAVProps &format);
    FFFramePtr screenPicture(QSize size);
    FFFramePtr sharedScreenPicture(QSize size);
    // The picture of a frame when the screen is watched for changes; null when unchanged.
    FFFramePtr changedPicture(const MFAVProps &format, ChangePacing::Action action);
    // Once the grab is open: follow its area's changes where the server reports them.
    void watchChanges();
    std::vector<int16_t> sound(const MFAVProps &format, double rate);
    MFSourceTrouble trouble() const;

    std::mutex m_mutex;
    // What the callers chose.
    Selection m_selection;
    uint64_t m_generation = 0;
    QMap<int, QList<MFDeviceEntry>> m_lists;

    FrameClock m_clock;
    uint64_t m_followed = ~uint64_t(0);
    std::optional<MFDeviceEntry> m_video;
    std::optional<MFDeviceEntry> m_audioSource;
    ScreenRegion m_region;
    std::optional<ScreenGrabber> m_grabber;
    ScreenChangeWatch m_changes;
    bool m_changesUnwatchedLogged = false;
    double m_rate = 24.0;
    int64_t m_lastPictureTick = -1;
    bool m_grabFailing = false;
    QString m_grabError;
    Clock::time_point m_grabRetryAt;
    std::unique_ptr<CameraInput> m_camera;
    std::unique_ptr<AudioInput> m_audio;
    // The screen of a Wayland desktop, shared through its portal.
    std::unique_ptr<PortalScreenInput> m_shared;
    PackedPicture m_sharedPicture;
    // The part of the shared picture the last picture showed; null when it was none (black).
    QRect m_sharedCrop;
    bool m_sharedKeepAspect = false;
    QMap<QString, QString> m_screenProps;
    PictureConverter m_converter;
};
