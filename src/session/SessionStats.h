#pragma once

#include <QString>
#include <QtGlobal>

// Turns the relay's byte counters, read every statistics period, into the texts of the
// statistics labels.
class SessionStats
{
public:
    static constexpr int kPeriodMs = 3000;

    struct Texts
    {
        QString stream;  // "Stream bitrate: N Kbs"
        QString total;   // "Total bitrate: N Kbs"
        QString clients; // "Clients: N " (with the trailing space)
    };

    // kbit/s (1 kbit = 1024 bits) over one period from a counter's growth; 0 when it shrank.
    static float rateKbps(quint64 current, quint64 previous);

    // Called at every tick; with `fake` all values read 0. The counters are remembered either way.
    Texts tick(quint64 receivedBytes, quint64 sentBytes, int viewers, bool fake);

    // Forgets the previous counters (a new session's relay starts from 0).
    void reset();

private:
    quint64 m_prevReceived = 0;
    quint64 m_prevSent = 0;
};
