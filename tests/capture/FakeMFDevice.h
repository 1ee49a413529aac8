#pragma once

#include "capture/media/IMFDevice.h"
#include "capture/media/IMFProps.h"
#include "capture/media/IMFSource.h"

#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QThread>

// A capture source object for the controller's tests: fixed device lists, a record of every
// selection and property set, and frames at a quick pace of its own. Thread-safe, since the
// controller's pump asks for frames while the test changes sources.
class FakeMFDevice : public IMFDevice, public IMFProps, public IMFSource
{
public:
    QMap<int, QStringList> devices; // per eMFDeviceType
    QStringList lineInOptions;      // NDI sources offered through "line-in"
    bool failCount = false;         // DeviceGetCount fails
    bool failFrames = false;        // frame requests fail

    MFResult DeviceGetCount(eMFDeviceType type, int *count) override
    {
        QMutexLocker lock(&m_mutex);
        if (failCount)
            return -1;
        *count = int(devices.value(type).size());
        return MF_OK;
    }
    MFResult DeviceGetByIndex(eMFDeviceType type, int index, QString *name, int *busy) override
    {
        QMutexLocker lock(&m_mutex);
        const QStringList names = devices.value(type);
        if (index < 0 || index >= names.size())
            return -1;
        *name = names[index];
        *busy = 0;
        return MF_OK;
    }
    MFResult DeviceSet(eMFDeviceType type, int index, const QString &) override
    {
        QMutexLocker lock(&m_mutex);
        if (index < 0 || index >= devices.value(type).size())
            return -1;
        m_calls.append(QStringLiteral("DeviceSet %1 %2").arg(type).arg(index));
        return MF_OK;
    }

    MFResult PropsSet(const QString &name, const QString &value) override
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(QStringLiteral("PropsSet %1=%2").arg(name, value));
        m_props[name] = value;
        return MF_OK;
    }
    MFResult PropsOptionGetCount(const QString &name, int *count) override
    {
        QMutexLocker lock(&m_mutex);
        *count = name == QLatin1String("line-in") ? int(lineInOptions.size()) : 0;
        return MF_OK;
    }
    MFResult PropsOptionGetByIndex(const QString &name, int index, QString *option,
                                   QString *help) override
    {
        QMutexLocker lock(&m_mutex);
        if (name != QLatin1String("line-in") || index < 0 || index >= lineInOptions.size())
            return -1;
        *option = lineInOptions[index];
        *help = QString();
        return MF_OK;
    }

    MFResult SourceFrameConvertedGet(const MFAVProps &format, int64_t, MFFramePtr *frame,
                                     const QString &) override
    {
        QThread::msleep(2);
        QMutexLocker lock(&m_mutex);
        m_lastFormat = format;
        if (failFrames)
            return -1;
        *frame = std::make_shared<MFFrame>(format, m_tick++, 0, nullptr, std::vector<int16_t>());
        return MF_OK;
    }

    // Selections and property sets in order, as "DeviceSet <type> <index>" and
    // "PropsSet <name>=<value>".
    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    QString prop(const QString &name) const
    {
        QMutexLocker lock(&m_mutex);
        return m_props.value(name);
    }
    MFAVProps lastFormat() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lastFormat;
    }
    void clearCalls()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
    }

private:
    mutable QMutex m_mutex;
    QStringList m_calls;
    QMap<QString, QString> m_props;
    MFAVProps m_lastFormat;
    int64_t m_tick = 0;
};
