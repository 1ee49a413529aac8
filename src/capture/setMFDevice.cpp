#include "capture/setMFDevice.h"

#include <QDebug>

namespace {
const char signature[] =
    "bool __cdecl setMFDevice(class ATL::CComPtr<struct IMFDevice>,enum eMFDeviceType,class "
    "QString)";
}

bool setMFDevice(MFDevicePtr device, eMFDeviceType type, QString name)
{
    if (!device)
        return false;
    int count = 0;
    if (mfFailed(device->DeviceGetCount(type, &count))) {
        qCritical() << signature << "DeviceGetCount FAILED";
        return false;
    }
    for (int index = 0; index < count; ++index) {
        QString deviceName;
        int busy = 0;
        if (mfFailed(device->DeviceGetByIndex(type, index, &deviceName, &busy)) ||
            deviceName != name)
            continue;
        if (mfFailed(device->DeviceSet(type, index, QString()))) {
            qCritical() << signature << "DeviceSet FAILED";
            return false;
        }
        return true;
    }
    return false;
}
