#pragma once

#include <QObject>
#include <QTimer>

// Hands memory freed in bulk back to the system. The C library keeps freed heap for reuse, so
// after a thousand viewers leave at once the studio would go on holding what their buffers took.
// Owners call soon() when they let connections go; the trim runs once, after things settle.
// GUI thread.
class HeapTrimmer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSettleMs = 1000;

    HeapTrimmer();
    void soon();

private:
    QTimer m_settle;
};
