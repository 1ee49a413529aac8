#pragma once

#include "capture/media/IMFWriter.h"

#include <QMutex>
#include <QString>

// A writer for the controller's tests: keeps what it was opened with and counts frames.
class FakeMFWriter : public IMFWriter
{
public:
    MFResult WriterSet(const QString &target, int flags, const QString &config) override
    {
        QMutexLocker lock(&m_mutex);
        m_target = target;
        m_flags = flags;
        m_config = config;
        return MF_OK;
    }
    MFResult ReceiverFramePut(const MFFramePtr &, int64_t, const QString &) override
    {
        QMutexLocker lock(&m_mutex);
        ++m_frames;
        return failPut ? -5 : MF_OK;
    }

    bool failPut = false; // set before the pump starts

    QString target() const
    {
        QMutexLocker lock(&m_mutex);
        return m_target;
    }
    int flags() const
    {
        QMutexLocker lock(&m_mutex);
        return m_flags;
    }
    QString config() const
    {
        QMutexLocker lock(&m_mutex);
        return m_config;
    }
    int frames() const
    {
        QMutexLocker lock(&m_mutex);
        return m_frames;
    }

private:
    mutable QMutex m_mutex;
    QString m_target;
    int m_flags = 0;
    QString m_config;
    int m_frames = 0;
};
