#pragma once

#include "capture/media/DeviceCatalog.h"
#include "capture/media/MFTypes.h"

#include <QList>
#include <QMap>
#include <QRect>
#include <optional>

// What the callers of the capture source chose: devices, properties and the screens they were
// set against. A plain value, copied under the source's lock to the thread that takes frames.
struct DeviceSelection
{
    std::optional<MFDeviceEntry> video;
    std::optional<MFDeviceEntry> internalAudio; // unset: the video device's own sound
    std::optional<MFDeviceEntry> externalAudio;
    QMap<QString, QString> props;
    QList<QRect> screens;

    // A new video device brings its own sound, whatever was chosen for the previous one; giving
    // up the external device (choosing its empty entry) hands the sound back to the video
    // device's own too, so "original" never keeps an earlier microphone or an earlier silence.
    void select(eMFDeviceType type, const MFDeviceEntry &entry);

    // The sound to capture: the external device if one is chosen, else the chosen internal
    // audio, else the video device's own sound; nothing when that has no input.
    std::optional<MFDeviceEntry> audioSource() const;
};
