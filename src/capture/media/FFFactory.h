#pragma once

#include "capture/media/IMFFactory.h"

// The back end over FFmpeg: FFDevice sources and FFWriter writers.
class FFFactory : public IMFFactory
{
public:
    MFDevicePtr createDevice() override;
    MFWriterPtr createWriter() override;
};
