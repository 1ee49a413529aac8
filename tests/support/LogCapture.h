#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the debug channel's lines from every thread while it exists, and passes them on to
// the handler that was installed before (the test framework's).
class LogCapture
{
public:
    LogCapture()
    {
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }

    bool contains(const QString &text) const
    {
        QMutexLocker lock(&m_mutex);
        for (const QString &line : m_lines) {
            if (line.contains(text))
                return true;
        }
        return false;
    }

private:
    static LogCapture *&instance()
    {
        static LogCapture *current = nullptr;
        return current;
    }

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        LogCapture *capture = instance();
        if (!capture)
            return;
        {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_lines.append(message);
        }
        if (capture->m_previous)
            capture->m_previous(type, context, message);
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
