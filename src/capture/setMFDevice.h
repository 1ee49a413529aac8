#pragma once

#include "capture/media/IMFDevice.h"

#include <QString>

// Selects the first device of `type` whose name equals `name` exactly. False, and logged, when
// the count cannot be read or the selection fails; false without a log when no device has that
// name.
bool setMFDevice(MFDevicePtr device, eMFDeviceType type, QString name);
