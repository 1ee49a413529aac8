#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A device as the back end lists it: the name shown and selected by, and the FFmpeg input that
// opens it.
struct MFDeviceEntry
{
    QString name;
    QByteArray input; // "x11grab", "portal", "video4linux2", "pulse", "alsa"; empty for none
    QByteArray url;
};

// Enumerates the machine's capture devices. Each call asks the system afresh.
namespace DeviceCatalog {

// The screen device's name; the session control selects the screen sources by it.
extern const QString screenName;
// The entry of the screen device's own sound: what the desktop plays (default output's monitor).
extern const QString desktopSoundName;
extern const QString noInternalAudioName;
extern const QString noExternalAudioName;

// V4L2 cameras by card name, then the screen device.
QList<MFDeviceEntry> videoDevices();
// "<No External Audio>", then the PulseAudio sources, monitors of outputs included (the ALSA
// capture devices when no PulseAudio server answers).
QList<MFDeviceEntry> externalAudioDevices();
// The devices of ALSA's own list (`listed`, as FFmpeg's alsa input gives it: description and
// name) that capture: one per capture device of a sound card, through the plug layer that
// converts rate and format, shown by the first line of its description. ALSA also lists every
// plugin its configuration knows (JACK, OSS, resamplers, channel mixers, "default"), which
// capture nothing by themselves or lead back to a sound server.
QList<MFDeviceEntry> alsaCaptureDevices(const QList<MFDeviceEntry> &listed);
// Sound that comes with the video device `video`: "<No Audio>", then for the screen device the
// desktop's sound when PulseAudio runs.
QList<MFDeviceEntry> internalAudioDevices(const MFDeviceEntry *video);
// What a video device brings by default: the desktop's sound for the screen device, nothing
// (an entry without input) for the others. Asks no system service, so it is cheap.
MFDeviceEntry ownSound(const MFDeviceEntry *video);

} // namespace DeviceCatalog
