#pragma once

#include "capture/media/IMFFactory.h"

#include <QStringList>

// Lists the NDI sources on the network through a capture source object of its own, switched to
// the NDI receiver device. Used on the GUI thread.
class NDISource
{
public:
    NDISource();
    // For tests: sources come from `factory` instead of the process's back end.
    explicit NDISource(MFFactoryPtr factory);

    void initNDI();
    // Appends "NDI:" followed by the name of every NDI source currently seen.
    void appendNDISources(QStringList &names);

private:
    MFFactoryPtr m_factory;
    MFDevicePtr m_device;
};
