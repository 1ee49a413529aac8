#pragma once

#include "capture/media/MFTypes.h"

#include <QString>
#include <memory>

// Device enumeration and selection of a capture source object. All calls may come from any
// thread; the object serialises them. Indexes are 0-based within one device type.
class IMFDevice
{
public:
    virtual ~IMFDevice() = default;

    virtual MFResult DeviceGetCount(eMFDeviceType type, int *count) = 0;
    // `busy` is filled with 0; callers ignore it.
    virtual MFResult DeviceGetByIndex(eMFDeviceType type, int index, QString *name, int *busy) = 0;
    // Selects the device at `index`. `props` is reserved and passed empty.
    virtual MFResult DeviceSet(eMFDeviceType type, int index, const QString &props) = 0;
};

using MFDevicePtr = std::shared_ptr<IMFDevice>;

// Interface query on a source object: null when the object does not offer `Interface`.
template <class Interface> std::shared_ptr<Interface> mfQuery(const MFDevicePtr &device)
{
    return std::dynamic_pointer_cast<Interface>(device);
}
