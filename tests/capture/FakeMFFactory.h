#pragma once

#include "FakeMFDevice.h"
#include "FakeMFWriter.h"

#include "capture/media/IMFFactory.h"

#include <QList>
#include <memory>

// The back end for the controller's tests. Every device it creates shares the same `devices`
// lists; writers are kept in creation order so a test can look at each.
class FakeMFFactory : public IMFFactory
{
public:
    QMap<int, QStringList> devices;
    QStringList lineInOptions;
    bool failDevices = false;
    bool failWriters = false;

    MFDevicePtr createDevice() override
    {
        if (failDevices)
            return nullptr;
        auto device = std::make_shared<FakeMFDevice>();
        device->devices = devices;
        device->lineInOptions = lineInOptions;
        created.append(device);
        return device;
    }
    MFWriterPtr createWriter() override
    {
        if (failWriters)
            return nullptr;
        auto writer = std::make_shared<FakeMFWriter>();
        writers.append(writer);
        return writer;
    }

    QList<std::shared_ptr<FakeMFDevice>> created;
    QList<std::shared_ptr<FakeMFWriter>> writers;
};
