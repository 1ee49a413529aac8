#include "capture/media/FFFactory.h"

#include "capture/media/FFDevice.h"
#include "capture/media/FFWriter.h"

MFDevicePtr FFFactory::createDevice()
{
    return std::make_shared<FFDevice>();
}

MFWriterPtr FFFactory::createWriter()
{
    return std::make_shared<FFWriter>();
}

MFFactoryPtr mfDefaultFactory()
{
    static const MFFactoryPtr factory = std::make_shared<FFFactory>();
    return factory;
}
