#include "capture/media/DeviceSelection.h"

void DeviceSelection::select(eMFDeviceType type, const MFDeviceEntry &entry)
{
    switch (type) {
    case eMFDT_Video:
        video = entry;
        internalAudio.reset();
        break;
    case eMFDT_Audio:
        internalAudio = entry;
        break;
    case eMFDT_ExtAudio:
        if (entry.input.isEmpty()) {
            externalAudio.reset();
            internalAudio.reset();
        } else {
            externalAudio = entry;
        }
        break;
    }
}

std::optional<MFDeviceEntry> DeviceSelection::audioSource() const
{
    std::optional<MFDeviceEntry> audio;
    if (externalAudio && !externalAudio->input.isEmpty())
        audio = externalAudio;
    else if (internalAudio)
        audio = internalAudio;
    else
        audio = DeviceCatalog::ownSound(video ? &*video : nullptr);
    if (audio && audio->input.isEmpty())
        audio.reset();
    return audio;
}
