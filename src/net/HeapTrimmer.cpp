#include "net/HeapTrimmer.h"

#include <malloc.h>

HeapTrimmer::HeapTrimmer()
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [] { malloc_trim(0); });
}

void HeapTrimmer::soon()
{
    if (!m_settle.isActive())
        m_settle.start();
}
