#include "net/LogBudget.h"

#include <QDebug>

LogBudget::LogBudget(int linesPerWindow, int windowMs)
    : m_linesPerWindow(linesPerWindow), m_windowMs(windowMs)
{}

bool LogBudget::admit()
{
    if (!m_window.isValid() || m_window.elapsed() >= m_windowMs) {
        m_window.start();
        m_linesInWindow = 0;
    }
    if (m_linesInWindow >= m_linesPerWindow) {
        ++m_leftOut;
        return false;
    }
    ++m_linesInWindow;
    return true;
}

int LogBudget::takeLeftOut()
{
    const int leftOut = m_leftOut;
    m_leftOut = 0;
    return leftOut;
}

void LogBudget::warn(const QString &line)
{
    if (!admit())
        return;
    const int leftOut = takeLeftOut();
    qWarning().noquote() << line + (leftOut
                                        ? QStringLiteral(" (%1 such lines left out)").arg(leftOut)
                                        : QString());
}

QString LogBudget::quoted(const QString &text)
{
    if (text.size() <= kMaxQuotedChars)
        return text;
    return text.left(kMaxQuotedChars) + QStringLiteral("... (%1 characters)").arg(text.size());
}
