#pragma once

#include <QElapsedTimer>
#include <QString>

// Bounds the log lines one remote peer can cause: a flooding viewer must not be able to fill
// the presenter's disk or drown the lines that matter. A few lines per window are let through;
// the rest are counted, and the next line let through, or the owner at the end, tells how many
// were left out. Not thread-safe; one per connection.
class LogBudget
{
public:
    static constexpr int kLinesPerWindow = 10;
    static constexpr int kWindowMs = 10 * 1000;
    // Longest piece of viewer-sent text that goes into one line.
    static constexpr int kMaxQuotedChars = 200;

    LogBudget(int linesPerWindow = kLinesPerWindow, int windowMs = kWindowMs);

    // True when one more line may be written now.
    bool admit();
    // Lines refused since the last call; the caller logs the figure when it is not 0.
    int takeLeftOut();
    // `line` as a warning when admitted, with how many were left out since the last one.
    void warn(const QString &line);

    // `text` cut to kMaxQuotedChars, with the full length noted when it was cut.
    static QString quoted(const QString &text);

private:
    int m_linesPerWindow;
    int m_windowMs;
    int m_linesInWindow = 0;
    int m_leftOut = 0;
    QElapsedTimer m_window;
};
