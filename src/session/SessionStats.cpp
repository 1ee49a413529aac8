#include "session/SessionStats.h"

#include <QObject>

float SessionStats::rateKbps(quint64 current, quint64 previous)
{
    if (current < previous)
        return 0;
    return float(current - previous) * 8 / (kPeriodMs / 1000 * 1024);
}

SessionStats::Texts SessionStats::tick(quint64 receivedBytes, quint64 sentBytes, int viewers,
                                       bool fake)
{
    const float stream = fake ? 0 : rateKbps(receivedBytes, m_prevReceived);
    const float total = fake ? 0 : rateKbps(sentBytes, m_prevSent);
    m_prevReceived = receivedBytes;
    m_prevSent = sentBytes;
    Texts texts;
    texts.stream = QObject::tr("Stream bitrate") + QString(": %1 Kbs").arg(int(stream));
    texts.total = QObject::tr("Total bitrate") + QString(": %1 Kbs").arg(int(total));
    texts.clients = QObject::tr("Clients") + QString(": %1 ").arg(fake ? 0 : viewers);
    return texts;
}

void SessionStats::reset()
{
    m_prevReceived = 0;
    m_prevSent = 0;
}
