#pragma once

#include "capture/media/IMFFactory.h"

#include <QMap>
#include <mutex>

// Wraps the studio's back end and notes, for every frame the controller hands to a writer, the
// time of its clock tick, so that delays can be split into the wait for the tick and the rest.
class TickRecordingFactory : public IMFFactory
{
public:
    explicit TickRecordingFactory(MFFactoryPtr inner) : m_inner(std::move(inner)) {}

    MFDevicePtr createDevice() override { return m_inner->createDevice(); }
    MFWriterPtr createWriter() override;

    // Tick index -> steady-clock time of the tick in microseconds.
    QMap<qint64, qint64> ticks() const;

private:
    class Writer;
    void record(const MFFrame &frame);

    MFFactoryPtr m_inner;
    mutable std::mutex m_mutex;
    QMap<qint64, qint64> m_ticks;
};
