#include "capture/NDISource.h"

#include "capture/media/IMFProps.h"

#include <QDebug>

NDISource::NDISource() : NDISource(mfDefaultFactory()) {}

NDISource::NDISource(MFFactoryPtr factory) : m_factory(std::move(factory))
{
    initNDI();
}

void NDISource::initNDI()
{
    m_device = m_factory->createDevice();
    if (!m_device) {
        qCritical() << "void __cdecl NDISource::initNDI(void)"
                    << "ERROR: Can't create MFormats NDI instance";
        return;
    }
    int count = 0;
    if (mfFailed(m_device->DeviceGetCount(eMFDT_Video, &count)))
        return;
    for (int index = 0; index < count; ++index) {
        QString name;
        int busy = 0;
        m_device->DeviceGetByIndex(eMFDT_Video, index, &name, &busy);
        qDebug() << name;
        if (name.startsWith(QLatin1String("NDI Receiver"))) {
            qDebug() << "found NDI" << index;
            m_device->DeviceSet(eMFDT_Video, index, QString());
            return;
        }
    }
}

void NDISource::appendNDISources(QStringList &names)
{
    const auto props = mfQuery<IMFProps>(m_device);
    if (!props)
        return;
    int count = 0;
    const bool ok = !mfFailed(props->PropsOptionGetCount(QStringLiteral("line-in"), &count));
    qDebug() << "NDI LINE:" << count << ok;
    if (!ok)
        return;
    for (int index = 0; index < count; ++index) {
        QString option;
        QString help;
        if (!mfFailed(
                props->PropsOptionGetByIndex(QStringLiteral("line-in"), index, &option, &help)))
            names.append(QStringLiteral("NDI:") + option);
    }
}
