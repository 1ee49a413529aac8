#pragma once

#include "capture/media/MFTypes.h"

#include <QString>

// String properties of a capture source object ("capture.area", "line-in", ...).
// Thread-safe; a set takes effect from the next frame request.
class IMFProps
{
public:
    virtual ~IMFProps() = default;

    virtual MFResult PropsSet(const QString &name, const QString &value) = 0;
    // Number of values offered for a property (for "line-in": the NDI sources seen).
    virtual MFResult PropsOptionGetCount(const QString &name, int *count) = 0;
    // `help` is filled with a description that callers may ignore.
    virtual MFResult PropsOptionGetByIndex(const QString &name, int index, QString *option,
                                           QString *help) = 0;
};
