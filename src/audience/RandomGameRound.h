#pragma once

#include <QColor>
#include <QString>
#include <QVector>

// One random winner game as a schedule of clock ticks, without clock or window: every 400 ms
// tick up to 10 s is a progress step with a colour of the round's table, the next one is the
// finish with a fresh check code. Whoever owns the timer calls advance() at each tick.
class RandomGameRound
{
public:
    static constexpr int kTickMs = 400;
    static constexpr int kDurationMs = 10000;
    static constexpr int kColourCount = 110;

    struct Step
    {
        enum class Kind { Idle, Progress, Finish };
        Kind kind = Kind::Idle;
        QString clr;  // Progress: the colour as QColor::name() writes it
        int proc = 0; // Progress: percent done, 4 to 100 in steps of 4
        QString code; // Finish: the check code
    };

    // Builds a new colour table and rewinds the clock; a running round starts over.
    void start();
    // One clock tick. Idle when no round runs; after Finish the round is over.
    Step advance();
    bool isRunning() const { return m_running; }
    const QVector<QColor> &colours() const { return m_colours; }

    // Fully saturated colours whose hues walk the circle in golden-ratio steps from 0, so
    // neighbouring ticks always look different.
    static QVector<QColor> colourTable();
    // Three digits 100 to 999, a dash, three digits 100 to 999, from the operating system's
    // random source: nobody can compute it from the moment the game ran, so a losing viewer
    // cannot forge the winner's code.
    static QString drawCheckCode();

private:
    QVector<QColor> m_colours;
    qint32 m_elapsed = 0;
    bool m_running = false;
};
