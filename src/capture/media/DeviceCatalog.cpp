#include "capture/media/DeviceCatalog.h"

#include "capture/media/DesktopGeometry.h"
#include "capture/media/FFLog.h"
#include "capture/media/PortalScreenInput.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace DeviceCatalog {

const QString screenName = QStringLiteral("Medialooks DXGI/DX11 ScreenCapture");
const QString desktopSoundName = QStringLiteral("Desktop sound");
const QString noInternalAudioName = QStringLiteral("<No Audio>");
const QString noExternalAudioName = QStringLiteral("<No External Audio>");

namespace {

// The sources of one FFmpeg input device; false when the input or its system service is absent.
bool listSources(const char *input, QList<MFDeviceEntry> *entries)
{
    ffInit();
    const AVInputFormat *format = av_find_input_format(input);
    AVDeviceInfoList *list = nullptr;
    if (!format || avdevice_list_input_sources(format, nullptr, nullptr, &list) < 0)
        return false;
    for (int i = 0; i < list->nb_devices; ++i) {
        const AVDeviceInfo *info = list->devices[i];
        const QString description = QString::fromUtf8(info->device_description).trimmed();
        const QByteArray url(info->device_name);
        entries->append(
            {description.isEmpty() ? QString::fromUtf8(url) : description, QByteArray(input), url});
    }
    avdevice_free_list_devices(&list);
    return true;
}

} // namespace

QList<MFDeviceEntry> videoDevices()
{
    QList<MFDeviceEntry> entries;
    listSources("video4linux2", &entries);
    if (waylandDesktop()) {
        // Listing again (Refresh) is the presenter asking for the screen again.
        PortalScreenInput::askAgain();
        entries.append({screenName, "portal", qgetenv("WAYLAND_DISPLAY")});
    } else {
        entries.append({screenName, "x11grab", qgetenv("DISPLAY")});
    }
    return entries;
}

QList<MFDeviceEntry> externalAudioDevices()
{
    QList<MFDeviceEntry> entries{{noExternalAudioName, {}, {}}};
    QList<MFDeviceEntry> alsa;
    if (!listSources("pulse", &entries) && listSources("alsa", &alsa))
        entries.append(alsaCaptureDevices(alsa));
    return entries;
}

QList<MFDeviceEntry> alsaCaptureDevices(const QList<MFDeviceEntry> &listed)
{
    QList<MFDeviceEntry> devices;
    for (MFDeviceEntry entry : listed) {
        if (!entry.url.startsWith("plughw:CARD="))
            continue;
        // "HDA Intel PCH, ALC892 Analog" and a second line on the kind of access.
        entry.name = entry.name.section('\n', 0, 0).trimmed();
        if (entry.name.isEmpty())
            entry.name = QString::fromUtf8(entry.url);
        devices.append(entry);
    }
    return devices;
}

QList<MFDeviceEntry> internalAudioDevices(const MFDeviceEntry *video)
{
    QList<MFDeviceEntry> entries{{noInternalAudioName, {}, {}}};
    QList<MFDeviceEntry> pulse;
    const MFDeviceEntry own = ownSound(video);
    if (!own.input.isEmpty() && listSources("pulse", &pulse))
        entries.append(own);
    return entries;
}

MFDeviceEntry ownSound(const MFDeviceEntry *video)
{
    if (video && video->name == screenName)
        return {desktopSoundName, "pulse", "@DEFAULT_MONITOR@"};
    return {noInternalAudioName, {}, {}};
}

} // namespace DeviceCatalog
