#include "capture/media/FFDevice.h"

#include "capture/media/DesktopGeometry.h"
#include "capture/media/FFLog.h"
#include "capture/media/PortalChanges.h"
#include "capture/media/ScreenDamage.h"

#include <QDebug>
#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace {

constexpr double defaultFrameRate = 24.0;

// How long a watched screen without sound waits at most for a picture to become due. Between
// waits the pump notices a new selection or area, a caption and Stop: within this is soon enough
// for a presenter's click, and far fewer wake-ups than a tick each.
constexpr auto silentWake = std::chrono::milliseconds(125);

bool sameDevice(const std::optional<MFDeviceEntry> &a, const std::optional<MFDeviceEntry> &b)
{
    if (!a || !b)
        return !a && !b;
    return a->input == b->input && a->url == b->url;
}

} // namespace

FFDevice::FFDevice()
{
    ffInit();
}

FFDevice::~FFDevice() = default;

QList<MFDeviceEntry> FFDevice::listDevices(eMFDeviceType type)
{
    switch (type) {
    case eMFDT_Video:
        return DeviceCatalog::videoDevices();
    case eMFDT_Audio: {
        std::optional<MFDeviceEntry> video;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            video = m_selection.video;
        }
        return DeviceCatalog::internalAudioDevices(video ? &*video : nullptr);
    }
    case eMFDT_ExtAudio:
        return DeviceCatalog::externalAudioDevices();
    }
    return {};
}

bool FFDevice::isListed(eMFDeviceType type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lists.contains(type);
}

MFResult FFDevice::DeviceGetCount(eMFDeviceType type, int *count)
{
    if (type != eMFDT_Video && type != eMFDT_Audio && type != eMFDT_ExtAudio)
        return AVERROR(EINVAL);
    const QList<MFDeviceEntry> devices = listDevices(type);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lists[type] = devices;
    *count = int(devices.size());
    return MF_OK;
}

MFResult FFDevice::entryAt(eMFDeviceType type, int index, MFDeviceEntry *entry)
{
    int count = 0;
    if (!isListed(type) && mfFailed(DeviceGetCount(type, &count)))
        return AVERROR(EINVAL);
    std::lock_guard<std::mutex> lock(m_mutex);
    const QList<MFDeviceEntry> &devices = m_lists[type];
    if (index < 0 || index >= devices.size())
        return AVERROR(EINVAL);
    *entry = devices[index];
    return MF_OK;
}

MFResult FFDevice::DeviceGetByIndex(eMFDeviceType type, int index, QString *name, int *busy)
{
    MFDeviceEntry entry;
    const MFResult result = entryAt(type, index, &entry);
    if (mfFailed(result))
        return result;
    *name = entry.name;
    if (busy)
        *busy = 0;
    return MF_OK;
}

MFResult FFDevice::DeviceSet(eMFDeviceType type, int index, const QString &props)
{
    Q_UNUSED(props)
    MFDeviceEntry entry;
    const MFResult result = entryAt(type, index, &entry);
    if (mfFailed(result))
        return result;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_selection.select(type, entry);
    // The internal audio list is the video device's own: list it again for the new one.
    if (type == eMFDT_Video)
        m_lists.remove(eMFDT_Audio);
    ++m_generation;
    return MF_OK;
}

MFResult FFDevice::PropsSet(const QString &name, const QString &value)
{
    // The GUI's screen list can only be read on its thread, which is where properties are set.
    const QList<QRect> screens = guiScreenRects();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_selection.props[name] = value;
    if (!screens.isEmpty())
        m_selection.screens = screens;
    ++m_generation;
    return MF_OK;
}

MFResult FFDevice::PropsOptionGetCount(const QString &name, int *count)
{
    // No property offers options here: "line-in" would list NDI sources, and no NDI runtime
    // exists on this platform.
    Q_UNUSED(name)
    *count = 0;
    return MF_OK;
}

MFResult FFDevice::PropsOptionGetByIndex(const QString &name, int index, QString *option,
                                         QString *help)
{
    Q_UNUSED(name)
    Q_UNUSED(index)
    Q_UNUSED(option)
    Q_UNUSED(help)
    return AVERROR(EINVAL);
}

MFResult FFDevice::SourceFrameConvertedGet(const MFAVProps &format, int64_t maxWaitMs,
                                           MFFramePtr *frame, const QString &props)
{
    Q_UNUSED(maxWaitMs)
    Q_UNUSED(props)
    const double rate = format.video.frameRate > 0 ? format.video.frameRate : defaultFrameRate;
    m_rate = rate;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_followed != m_generation) {
            m_followed = m_generation;
            const Selection selection = m_selection;
            lock.unlock();
            follow(selection);
            // A source chosen again (video turned back on) owes the viewers its picture.
            m_changes.refresh();
        }
    }
    followAudio(format);
    const QSize size(format.video.width, format.video.height);
    FrameClock::Tick tick = m_clock.upcoming(rate);
    const Clock::time_point tickAt{std::chrono::microseconds(tick.timeUs)};
    const bool watched = (m_grabber || m_shared) && m_changes.watching() && !size.isEmpty();
    // Without sound a tick carries nothing a still screen needs: only pictures end the wait.
    const bool silent = watched && format.audio.channels <= 0;
    ScreenChangeWatch::Wake wake;
    if (watched)
        wake = m_changes.waitUntil(silent ? Clock::now() + silentWake : tickAt, size, silent);
    else
        std::this_thread::sleep_until(tickAt);
    if (wake.tickReached && !silent) {
        m_clock.taken(tick);
    } else {
        tick.timeUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
                .count();
        tick.index = m_clock.indexAt(tick.timeUs);
        // No sound waits for the ticks then: the grid only dates the pictures, and must keep
        // its origin for that.
        if (silent)
            m_clock.taken(tick);
    }
    MFAVProps delivered = format;
    delivered.video.frameRate = rate;
    FFFramePtr pictureNow = watched ? changedPicture(format, wake.action) : picture(format);
    if (pictureNow) {
        // Timestamps of pictures must grow even where a tick and a change fall close together.
        tick.index = std::max(tick.index, m_lastPictureTick + 1);
        m_lastPictureTick = tick.index;
    }
    std::vector<int16_t> soundNow = wake.tickReached ? sound(format, rate) : std::vector<int16_t>();
    *frame = std::make_shared<MFFrame>(delivered, tick.index, tick.timeUs, std::move(pictureNow),
                                       std::move(soundNow), trouble(),
                                       wake.action == ChangePacing::Action::SettledPicture);
    return MF_OK;
}

void FFDevice::SourceClose()
{
    // A share left open after Stop keeps the desktop's "sharing" sign on and its pictures
    // coming; a camera its light.
    follow(Selection());
    m_audio.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_followed = ~uint64_t(0);
}

PipeWireStream::Statistics FFDevice::screenShareStatistics() const
{
    return m_shared ? m_shared->statistics() : PipeWireStream::Statistics();
}

FFFramePtr FFDevice::changedPicture(const MFAVProps &format, ChangePacing::Action action)
{
    switch (action) {
    case ChangePacing::Action::None:
        return nullptr;
    case ChangePacing::Action::Picture:
        return picture(format);
    case ChangePacing::Action::SettledPicture:
    case ChangePacing::Action::KeepAlive:
        break;
    }
    FFFramePtr again = m_changes.held();
    return again ? std::move(again) : picture(format);
}

void FFDevice::follow(const Selection &selection)
{
    if (!sameDevice(selection.video, m_video)) {
        m_grabber.reset();
        m_changes.stop();
        m_camera.reset();
        m_shared.reset();
        m_sharedPicture = {};
        m_grabFailing = false;
        m_video = selection.video;
        if (m_video && m_video->input == "video4linux2")
            m_camera = std::make_unique<CameraInput>(m_video->url);
    }
    if (m_video && m_video->input == "x11grab") {
        const ScreenRegion region = ScreenRegion::fromProps(selection.props, selection.screens,
                                                            x11DesktopRect(m_video->url));
        if (region != m_region) {
            // A changed area reopens the grab; the frames go on meanwhile.
            m_grabber.reset();
            m_grabFailing = false;
            m_region = region;
        }
    }
    if (m_video && m_video->input == "portal") {
        m_screenProps = selection.props;
        const bool drawMouse = ScreenRegion::fromProps(m_screenProps, {}, {}).drawMouse;
        // The cursor is part of the portal session: another choice needs another session.
        if (m_shared && m_shared->embedsCursor() != drawMouse) {
            m_changes.stop();
            m_shared.reset();
        }
        if (!m_shared) {
            m_shared = std::make_unique<PortalScreenInput>(drawMouse);
            m_changes.watch(std::make_unique<PortalChanges>(*m_shared), QSize(), m_rate);
        }
    }
    m_audioSource = selection.audioSource();
}

void FFDevice::followAudio(const MFAVProps &format)
{
    const MFAudioProps &want = format.audio;
    const bool wanted = m_audioSource && want.channels > 0 && want.samplesPerSec > 0;
    if (m_audio &&
        (!wanted || m_audio->format() != m_audioSource->input ||
         m_audio->url() != m_audioSource->url || m_audio->sound().channels != want.channels ||
         m_audio->sound().samplesPerSec != want.samplesPerSec))
        m_audio.reset();
    if (wanted && !m_audio)
        m_audio = std::make_unique<AudioInput>(m_audioSource->input, m_audioSource->url, want);
}

FFFramePtr FFDevice::picture(const MFAVProps &format)
{
    const QSize size(format.video.width, format.video.height);
    if (size.width() <= 0 || size.height() <= 0)
        return nullptr;
    FFFramePtr result;
    if (m_video && m_video->input == "x11grab") {
        result = screenPicture(size);
    } else if (m_shared) {
        result = sharedScreenPicture(size);
    } else if (m_camera) {
        if (FFFramePtr latest = m_camera->latest())
            result =
                m_converter.convert({latest->data, latest->linesize, AVPixelFormat(latest->format),
                                     latest->width, latest->height},
                                    size, true);
    }
    if (!result)
        result = m_converter.black(size);
    // What a change-driven source repeats until its next change, black included.
    if (m_changes.watching())
        m_changes.hold(result.get());
    return result;
}

FFFramePtr FFDevice::screenPicture(QSize size)
{
    if (m_region.rect.isEmpty())
        return nullptr;
    if (!m_grabber) {
        if (m_grabFailing && Clock::now() < m_grabRetryAt)
            return nullptr;
        QString error;
        m_grabber.emplace();
        if (!m_grabber->open(m_video->url, m_region, &error)) {
            if (!m_grabFailing)
                qWarning().noquote() << "screen capture unavailable:" << error;
            m_grabber.reset();
            m_grabFailing = true;
            m_grabError = error;
            m_grabRetryAt = Clock::now() + std::chrono::seconds(1);
            return nullptr;
        }
        watchChanges();
    }
    // Where changes are watched, only what changed is grabbed and converted into the last
    // picture.
    const QRect changed = m_changes.watching() ? m_changes.takeChanged() : QRect();
    const int ret = m_grabber->grab(changed);
    if (ret < 0) {
        qWarning().noquote() << "screen capture lost:" << ffErrorText(ret);
        m_grabber.reset();
        m_grabFailing = true;
        m_grabError = ffErrorText(ret);
        m_grabRetryAt = Clock::now() + std::chrono::seconds(1);
        return nullptr;
    }
    m_grabFailing = false;
    const uint8_t *const data[4] = {m_grabber->data()};
    const int linesize[4] = {m_grabber->linesize()};
    const PictureConverter::Source grabbed{data, linesize, m_grabber->pixelFormat(),
                                           m_grabber->width(), m_grabber->height()};
    const FFFramePtr previous = changed.isNull() ? nullptr : m_changes.held();
    return previous ? m_converter.update(*previous, grabbed, changed, size, m_region.keepAspect)
                    : m_converter.convert(grabbed, size, m_region.keepAspect);
}

FFFramePtr FFDevice::sharedScreenPicture(QSize size)
{
    QRect changed;
    m_shared->takeNewer(&m_sharedPicture, &changed);
    const PackedPicture &shared = m_sharedPicture;
    // What the next picture may be made from: the last one, where it shows the same part.
    const QRect lastCrop = std::exchange(m_sharedCrop, QRect());
    if (shared.serial == 0 || !m_shared->trouble().isEmpty())
        return nullptr;
    const QSize frame(shared.width, shared.height);
    QRect placement = m_shared->placement();
    if (placement.isEmpty())
        placement.setSize(frame);
    // The desktop's picker chose the monitor, whichever screen index the studio asked for; an
    // area is in desktop coordinates.
    const ScreenRegion region = ScreenRegion::fromProps(m_screenProps, {}, placement);
    const QRect crop = ScreenRegion::cropIn(region.rect, placement, frame);
    if (crop.isEmpty())
        return nullptr;
    const int bytesPerPixel = 4;
    const uint8_t *data[4] = {shared.bytes.data() + size_t(crop.y()) * size_t(shared.stride) +
                              size_t(crop.x()) * bytesPerPixel};
    const int linesize[4] = {shared.stride};
    const PictureConverter::Source source{data, linesize, shared.format, crop.width(),
                                          crop.height()};
    FFFramePtr previous = m_changes.held();
    m_sharedCrop = crop;
    // Only what the compositor says changed is converted into the last picture.
    if (crop == lastCrop && previous && previous->width == size.width() &&
        previous->height == size.height() && region.keepAspect == m_sharedKeepAspect &&
        !changed.contains(crop)) {
        const QRect part = changed.intersected(crop).translated(-crop.topLeft());
        if (part.isEmpty())
            return previous;
        return m_converter.update(*previous, source, part, size, region.keepAspect);
    }
    m_sharedKeepAspect = region.keepAspect;
    return m_converter.convert(source, size, region.keepAspect);
}

void FFDevice::watchChanges()
{
    QString why;
    auto damage = std::make_unique<ScreenDamage>();
    if (damage->open(m_video->url, m_region.rect, m_region.drawMouse, &why)) {
        m_changes.watch(std::move(damage), m_region.rect.size(), m_rate);
        return;
    }
    if (m_changesUnwatchedLogged)
        return;
    qWarning().noquote() << "screen changes cannot be watched:" << why
                         << "- grabbing the screen at every frame";
    m_changesUnwatchedLogged = true;
}

std::vector<int16_t> FFDevice::sound(const MFAVProps &format, double rate)
{
    const MFAudioProps &want = format.audio;
    if (want.channels <= 0 || want.samplesPerSec <= 0)
        return {};
    const size_t count = size_t(std::lround(want.samplesPerSec / rate)) * size_t(want.channels);
    return m_audio ? m_audio->take(count) : std::vector<int16_t>(count, 0);
}

MFSourceTrouble FFDevice::trouble() const
{
    MFSourceTrouble trouble;
    QString video;
    if (m_video && m_video->input == "x11grab" && m_grabFailing)
        video = m_grabError;
    else if (m_shared)
        video = m_shared->trouble();
    else if (m_camera)
        video = m_camera->trouble();
    if (!video.isEmpty())
        trouble.video = m_video->name + ": " + video;
    const QString audio = m_audio && m_audioSource ? m_audio->trouble() : QString();
    if (!audio.isEmpty())
        trouble.audio = m_audioSource->name + ": " + audio;
    return trouble;
}
