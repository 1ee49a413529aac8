#include "TickRecordingFactory.h"

class TickRecordingFactory::Writer : public IMFWriter
{
public:
    Writer(TickRecordingFactory *owner, MFWriterPtr inner)
        : m_owner(owner), m_inner(std::move(inner))
    {}

    MFResult WriterSet(const QString &target, int flags, const QString &config) override
    {
        return m_inner->WriterSet(target, flags, config);
    }
    MFResult ReceiverFramePut(const MFFramePtr &frame, int64_t maxWaitMs,
                              const QString &props) override
    {
        m_owner->record(*frame);
        return m_inner->ReceiverFramePut(frame, maxWaitMs, props);
    }

private:
    TickRecordingFactory *m_owner;
    MFWriterPtr m_inner;
};

MFWriterPtr TickRecordingFactory::createWriter()
{
    MFWriterPtr inner = m_inner->createWriter();
    return inner ? std::make_shared<Writer>(this, inner) : nullptr;
}

void TickRecordingFactory::record(const MFFrame &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ticks.insert(frame.tick(), frame.tickTimeUs());
}

QMap<qint64, qint64> TickRecordingFactory::ticks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ticks;
}
