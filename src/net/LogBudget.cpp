#include "net/LogBudget.h"

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

QString LogBudget::quoted(const QString &text)
{
    if (text.size() <= kMaxQuotedChars)
        return text;
    return text.left(kMaxQuotedChars) + QStringLiteral("... (%1 characters)").arg(text.size());
}
