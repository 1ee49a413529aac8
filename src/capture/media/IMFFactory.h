#pragma once

#include "capture/media/IMFDevice.h"
#include "capture/media/IMFWriter.h"

#include <memory>

// Creates capture source objects and writers. Either call may fail and return null; callers
// log the failure and carry on without the object.
class IMFFactory
{
public:
    virtual ~IMFFactory() = default;

    // The object also offers IMFProps and IMFSource (see mfQuery).
    virtual MFDevicePtr createDevice() = 0;
    virtual MFWriterPtr createWriter() = 0;
};

using MFFactoryPtr = std::shared_ptr<IMFFactory>;

// The process's back end: capture and encoding over FFmpeg.
MFFactoryPtr mfDefaultFactory();
